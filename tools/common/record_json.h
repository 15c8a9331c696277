// The parameter record as JSON, walked from the one table of record fields: one member per
// field, flags as true or false, numbers as numbers (null when not finite), and the fields
// named "eqBands[i].name" gathered into an array of band objects.
#pragma once

#include "common/json_writer.h"
#include "engine/parameter_block.h"

namespace vorlund {

// Writes the record's user fields as one object (the header and reserved bytes are left out).
void writeRecordJson(JsonWriter& json, const ParameterBlock& record);

}  // namespace vorlund
