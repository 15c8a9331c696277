// Parameter records that prove their own integrity: the reserved bytes carry a sequence
// number and a checksum of everything else, so a reader can tell a whole record from one
// torn between two publications. Every record is already sanitised, so a reader's sanitise
// leaves it, and its checksum, unchanged.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/parameter_block.h"
#include "record_helpers.h"

namespace vorlund::test {

constexpr std::size_t kSequenceOffset = 0;  // within `reserved`
constexpr std::size_t kChecksumOffset = 8;

// FNV-1a over the record with the checksum bytes left out.
inline std::uint64_t recordChecksum(const ParameterBlock& record) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  const std::size_t skipFrom = offsetof(ParameterBlock, reserved) + kChecksumOffset;
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < sizeof record; ++i) {
    if (i >= skipFrom && i < skipFrom + sizeof hash) continue;
    hash = (hash ^ bytes[i]) * 1099511628211ull;
  }
  return hash;
}

// A record whose every field varies with `sequence` (within its range).
inline ParameterBlock checksummedRecord(std::uint32_t sequence) {
  ParameterBlock record = test::defaultRecord();
  std::uint32_t state = sequence * 2654435761u + 12345u;
  auto* words = reinterpret_cast<unsigned char*>(&record);
  for (std::size_t at = offsetof(ParameterBlock, bypass); at < offsetof(ParameterBlock, reserved);
       at += 4) {
    state = state * 1664525u + 1013904223u;
    const float value = static_cast<float>(state >> 8) / 16777216.0f * 60.0f - 20.0f;
    std::memcpy(words + at, &value, sizeof value);
  }
  // Integer fields and flags read the float bits as integers; sanitise brings them in range.
  sanitise(record);
  std::memcpy(record.reserved + kSequenceOffset, &sequence, sizeof sequence);
  const std::uint64_t sum = recordChecksum(record);
  std::memcpy(record.reserved + kChecksumOffset, &sum, sizeof sum);
  return record;
}

inline bool isWholeRecord(const ParameterBlock& record) {
  std::uint64_t stored;
  std::memcpy(&stored, record.reserved + kChecksumOffset, sizeof stored);
  return stored == recordChecksum(record);
}

inline std::uint32_t recordSequence(const ParameterBlock& record) {
  std::uint32_t sequence;
  std::memcpy(&sequence, record.reserved + kSequenceOffset, sizeof sequence);
  return sequence;
}

}  // namespace vorlund::test
