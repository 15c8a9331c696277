// shared.bin as the tools use it: opened for reading and writing but never
// created or grown, mapped only as far as the block, and trusted only when its header is the
// one the effect writes. The header belongs to the effect; this side never writes it.
// Whoever may write shared.bin is trusted like its owner; still, one who cuts it short while
// it is mapped only makes the tools stop using it (state cutShort), never ends them.
#pragma once

#include <cstdint>
#include <string>

#include "engine/shared_block.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/path.h"

namespace vorlund {

class SharedFile {
 public:
  enum class State {
    closed,
    mapped,        // a Vorlund block: block() may be used
    missing,       // no such file: streams, if any, run in parameter-file mode
    noPermission,  // exists but cannot be opened as asked
    tooShort,      // shorter than a block
    wrongMagic,
    wrongVersion,
    wrongSize,  // the header's size field
    failed,     // any other error of the file system
    cutShort,   // was mapped, and someone cut the file short: block() holds zeros now
  };

  SharedFile() = default;
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;

  // Opens and maps `path` once, for reading and writing or (readOnly) for reading only;
  // later calls return the state of the first.
  State open(const Path& path, bool readOnly = false);
  // Unmaps and closes, so that the next open() looks again.
  void close() noexcept;
  State state() const noexcept;
  // Holds a header this program does not understand (so it must be left alone).
  bool foreign() const noexcept;

  // The mapped block; only while state() is mapped.
  SharedBlock& block() const noexcept { return *block_; }

  // What is wrong, as a sentence naming the file; empty while mapped.
  std::string problem() const;

 private:
  State state_ = State::closed;
  std::string pathText_;
  bool readOnly_ = false;
  DWORD error_ = ERROR_SUCCESS;
  std::uint64_t fileBytes_ = 0;
  std::uint32_t magic_ = 0;
  std::uint32_t version_ = 0;
  std::uint32_t size_ = 0;
  File file_;
  FileMapping mapping_;
  SharedBlock* block_ = nullptr;
};

}  // namespace vorlund
