// Parameter records as the tests make, write and compare them.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/parameter_block.h"
#include "temp_data_folder.h"

namespace vorlund::test {

// The factory record.
inline ParameterBlock defaultRecord() {
  ParameterBlock record;
  setDefaults(record);
  return record;
}

// The factory record with another input gain: records a test tells apart by one field.
inline ParameterBlock recordWithGain(float inputGainDb) {
  ParameterBlock record = defaultRecord();
  record.inputGainDb = inputGainDb;
  return record;
}

// The record as params.bin, cut or zero-padded to `length` bytes.
inline void writeRecordFile(const TempDataFolder& temp, const ParameterBlock& record,
                            std::size_t length = sizeof(ParameterBlock)) {
  std::string bytes(length, '\0');
  std::memcpy(bytes.data(), &record, std::min(length, sizeof record));
  writeBytes(temp.file("params.bin"), bytes.data(), bytes.size());
}

// Byte for byte, header and reserved tail included.
inline bool sameRecord(const ParameterBlock& a, const ParameterBlock& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace vorlund::test
