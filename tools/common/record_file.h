// Parameter record files as the tools read and write them: the 524-byte binary form that the
// system itself reads as params.bin, or the text form (record_text.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/record_text.h"
#include "engine/parameter_block.h"
#include "platform/path.h"

namespace vorlund {

enum class RecordFileFormat { Text, Binary };

// A file of exactly 524 bytes that passes isAcceptableFileRecord is a binary record; anything
// else is read as text. On success `record` holds the sanitised record. Messages lead with the
// path.
RecordReport readRecordFile(const std::filesystem::path& path, ParameterBlock& record);

// Writes `record` as it is, so that a reader of `path` only ever finds the old or the new
// complete file, even after a power cut: through a ReplacingFile (platform/replacing_file.h),
// never through a link someone placed in the folder. On failure `path` is left as it was and
// no temporary file remains.
// A text file may start with `comment` as a "# " line.
RecordReport writeRecordFile(const std::filesystem::path& path, const ParameterBlock& record,
                             RecordFileFormat format);
// The same for any content.
RecordReport writeFileReplacing(const std::filesystem::path& path, std::string_view content);

// The path as UTF-8 text, for messages.
std::string displayPath(const std::filesystem::path& path);

// A path given as UTF-8 text (a command-line argument), on every platform.
std::filesystem::path pathFromUtf8(std::string_view text);

// The platform path as a std::filesystem one.
std::filesystem::path toFilesystemPath(const Path& path);

}  // namespace vorlund
