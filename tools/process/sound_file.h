// Sound files through libsndfile for vorlund-process: reading any format it reads as
// interleaved float, writing the input's format or a named one, with clear failures.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <string>

namespace vorlund {

class SoundFile {
 public:
  // Throws ProcessError(inputFile) naming the file and libsndfile's reason.
  static SoundFile openForReading(const std::string& path);
  // `format` is an SF_FORMAT_* major|subtype; throws ProcessError(inputFile).
  static SoundFile openForWriting(const std::string& path, int format, int channels,
                                  int sampleRate);
  ~SoundFile();
  SoundFile(SoundFile&& other) noexcept;
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;
  SoundFile& operator=(SoundFile&&) = delete;

  const SF_INFO& info() const noexcept { return info_; }
  // Frames read; fewer than asked only at the end.
  std::size_t read(float* interleaved, std::size_t frames);
  void write(const float* interleaved, std::size_t frames);
  // Closes and reports a failure to finish the file.
  void close();

  // "FLAC, signed 16-bit PCM" and the like.
  static std::string describe(int format);
  // The SF_FORMAT_* of an output format name (wav16, flac24, ...), or 0.
  static int formatByName(const std::string& name);

 private:
  SoundFile(SNDFILE* file, const SF_INFO& info, std::string path)
      : file_(file), info_(info), path_(std::move(path)) {}

  SNDFILE* file_;
  SF_INFO info_;
  std::string path_;
};

}  // namespace vorlund
