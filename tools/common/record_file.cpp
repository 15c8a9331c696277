#include "common/record_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "common/system_error_text.h"
#include "platform/replacing_file.h"

namespace vorlund {
namespace fs = std::filesystem;
namespace {

// A full text record is about 3 KiB; anything far larger is not a record.
constexpr std::uintmax_t kMaxRecordFileBytes = 1 << 20;

void leadWith(const std::string& where, std::vector<std::string>& messages) {
  for (std::string& message : messages) message = where + ": " + message;
}

RecordReport failure(const fs::path& path, const std::string& message) {
  RecordReport report;
  report.errors.push_back(displayPath(path) + ": " + message);
  return report;
}

// The bytes as a record, if the system itself would accept them as params.bin.
std::optional<ParameterBlock> acceptableBinary(const std::string& bytes) {
  ParameterBlock record;
  if (bytes.size() != sizeof record) return std::nullopt;
  std::memcpy(&record, bytes.data(), sizeof record);
  if (!isAcceptableFileRecord(record, bytes.size())) return std::nullopt;
  return record;
}

}  // namespace

std::string displayPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path pathFromUtf8(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

fs::path toFilesystemPath(const Path& path) {
  return fs::path(path.c_str());
}

RecordReport readRecordFile(const fs::path& path, ParameterBlock& record) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) return failure(path, "no such file");
  if (error) return failure(path, error.message());
  if (fs::is_directory(status)) return failure(path, "is a folder, not a record file");
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return failure(path, error.message());
  if (size > kMaxRecordFileBytes) {
    return failure(path, std::to_string(size) + " bytes is far too large for a parameter record");
  }

  std::ifstream in(path, std::ios::binary);
  if (!in) return failure(path, "cannot be opened for reading");
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return failure(path, "reading failed");

  RecordReport report;
  if (std::optional<ParameterBlock> binary = acceptableBinary(bytes)) {
    report = sanitiseReporting(*binary);
    record = *binary;
  } else if (bytes.find('\0') != std::string::npos) {
    return failure(path,
                   "neither a text record nor a binary one (a binary record is 524 bytes, "
                   "starts with \"VRLD\" and holds 524 in its size field)");
  } else {
    report = parseRecordText(bytes, record);
  }
  leadWith(displayPath(path), report.errors);
  leadWith(displayPath(path), report.warnings);
  return report;
}

RecordReport writeRecordFile(const fs::path& path, const ParameterBlock& record,
                             RecordFileFormat format) {
  return writeFileReplacing(
      path, format == RecordFileFormat::Text
                ? formatRecordText(record)
                : std::string(reinterpret_cast<const char*>(&record), sizeof record));
}

RecordReport writeFileReplacing(const fs::path& path, std::string_view content) {
  const fs::path folder = path.parent_path();
  std::error_code error;
  if (!folder.empty() && !fs::is_directory(folder, error)) {
    return failure(path, "its folder does not exist");
  }
  ReplacingFile file;
  if (const DWORD code = file.create(path); code != ERROR_SUCCESS)
    return failure(path, "cannot create a temporary file in its folder: " + systemErrorText(code));
  if (const DWORD code = file.write(content.data(), content.size()); code != ERROR_SUCCESS)
    return failure(path, "writing the temporary file failed: " + systemErrorText(code));
  if (const DWORD code = file.commit(); code != ERROR_SUCCESS)
    return failure(path, "cannot replace the file: " + systemErrorText(code));
  return {};
}

}  // namespace vorlund
