// What each record field means and takes, written from the field table for people: the
// `vorlund-ctl help fields` text and the Markdown of docs/parameters.md.
#pragma once

#include <string>

#include "engine/field_table.h"

namespace vorlund {

// The values a field takes: "-20 to 30 dB", "on or off", "peaking, lowShelf, ... (0 to 6)".
std::string fieldRangeText(const RecordField& field);

// The factory value as a person reads it: "on", "lowShelf", "-18 dB".
std::string fieldDefaultText(const RecordField& field);

// Every field grouped by stage; the ten equaliser bands are described once.
std::string fieldReferenceText();
std::string fieldReferenceMarkdown();

}  // namespace vorlund
