// Sound files through libsndfile for vorlund-process: reading any format it reads as
// interleaved float, writing the input's format or a named one, with clear failures.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <string>

namespace vorlund {

class SoundFile {
 public:
  // Throws ProcessError(inputFile) naming the file and the reason (a folder, an empty file,
  // or libsndfile's).
  static SoundFile openForReading(const std::string& path);
  // Into the open file `descriptor` (left open), named `path` in messages. `format` is an
  // SF_FORMAT_* major|subtype; throws ProcessError(inputFile).
  static SoundFile openForWriting(int descriptor, const std::string& path, int format, int channels,
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
  // The frames the header claims; more than info().frames when the file was cut off.
  sf_count_t declaredFrames() const;
  // Closes and reports a failure to finish the file.
  void close();

  // "FLAC, signed 16-bit PCM" and the like.
  static std::string describe(int format);

  // The output's SF_FORMAT_*: by `requested` (--format) when given (a name of formatNames()), else
  // by the extension of `outputPath` (none: the input's). A container that cannot hold the input's
  // sample format takes the nearest it can. Throws ProcessError(usage) listing the choices.
  static int chooseOutputFormat(const std::string* requested, const std::string& outputPath,
                                int inputFormat, int channels, int sampleRate);
  // The names --format takes, as a sentence: every container libsndfile writes, by its
  // extension (aiff, caf, flac, ogg, w64, wav, ...), and shorthands with a sample format
  // (wav16, flac24, ...).
  static std::string formatNames();

 private:
  SoundFile(SNDFILE* file, const SF_INFO& info, std::string path)
      : file_(file), info_(info), path_(std::move(path)) {}

  SNDFILE* file_;
  SF_INFO info_;
  std::string path_;
};

}  // namespace vorlund
