// Fuzz target for the parameter file: any contents (up to 2000 bytes) become params.bin and go
// through the reader and through the channel's initialisation in fallback mode (a folder where
// shared.bin belongs). It requires: no crash or sanitizer report; the reader accepts the file
// exactly when its first read delivers a whole record (the file is at least 524 bytes long)
// with magic "VRLD" and size 524, and then yields that record sanitised, and otherwise leaves
// its destination untouched; the channel's private block carries a complete header and either
// the accepted record or the defaults under an even counter.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "channel/parameter_channel.h"
#include "engine/parameter_block.h"
#include "engine/shared_block.h"
#include "fuzz_input.h"
#include "temp_data_folder.h"

namespace vorlund::fuzz {
namespace {

// Longer files only ever have their first record read.
constexpr std::size_t kMaxFileBytes = 2000;

bool sameBytes(const ParameterBlock& a, const ParameterBlock& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace
}  // namespace vorlund::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vorlund;
  using namespace vorlund::fuzz;
  if (size > kMaxFileBytes) return -1;  // outside the target's domain: not added to the corpus
  static const test::TempDataFolder dataFolder;
  static const bool fallback = std::filesystem::create_directory(dataFolder.file("shared.bin"));
  require(fallback, "shared.bin is a folder");
  test::writeBytes(dataFolder.file("params.bin"), data, size);

  // What the reader must conclude, worked out from the bytes alone.
  ParameterBlock expected;
  std::memset(&expected, 0, sizeof expected);
  if (size != 0) std::memcpy(&expected, data, std::min(size, sizeof expected));  // data may be null
  std::uint32_t sizeField = 0;
  if (size >= 12) std::memcpy(&sizeField, data + 8, sizeof sizeField);
  const bool valid = size >= sizeof expected && std::memcmp(data, "VRLD", 4) == 0 &&
                     sizeField == ParameterBlock::kSize;
  sanitise(expected);

  ParameterBlock untouched;
  std::memset(&untouched, 0xA5, sizeof untouched);
  ParameterBlock read = untouched;
  const bool accepted = readParameterFile(read);
  require(accepted == valid, "accepted exactly when valid");
  require(sameBytes(read, accepted ? expected : untouched),
          "an accepted record arrives sanitised, a refused one changes nothing");

  ParameterBlock defaults;
  setDefaults(defaults);
  ParameterChannel channel;
  channel.open();
  SharedBlock* block = channel.activeBlock();
  require(block != nullptr && !channel.isShared(), "the channel falls back to a private block");
  require(sharedWord(block->magic).load() == SharedBlock::kMagic &&
              sharedWord(block->version).load() == SharedBlock::kVersion &&
              sharedWord(block->size).load() == SharedBlock::kSize,
          "the private block has a complete header");
  // The watcher may publish the same file once more as it starts: a snapshot taken between
  // its publications must show the same record.
  ParameterBlock inForce;
  std::uint32_t counter = 0;
  while (!readSnapshot(*block, inForce, counter)) {
  }
  require(counter % 2 == 0 && counter >= 2, "the record was published by the protocol");
  require(sameBytes(inForce, accepted ? expected : defaults),
          "the channel starts with the file's record or the defaults");
  channel.close();
  return 0;
}
