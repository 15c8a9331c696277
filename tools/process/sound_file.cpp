#include "sound_file.h"

#include <utility>

#include "process_error.h"

namespace vorlund {
namespace {

struct NamedFormat {
  const char* name;
  int format;
};

constexpr NamedFormat kOutputFormats[] = {
    {"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},   {"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    {"wav32", SF_FORMAT_WAV | SF_FORMAT_PCM_32},   {"wavf", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    {"flac16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}, {"flac24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
};

std::string formatName(int command, int format) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, command, &info, sizeof info) != 0 || info.name == nullptr)
    return "unknown";
  return info.name;
}

}  // namespace

SoundFile SoundFile::openForReading(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr)
    throw ProcessError(ProcessExit::inputFile, "cannot read " + path + ": " + sf_strerror(nullptr));
  return SoundFile(file, info, path);
}

SoundFile SoundFile::openForWriting(const std::string& path, int format, int channels,
                                    int sampleRate) {
  SF_INFO info{};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  if (!sf_format_check(&info))
    throw ProcessError(ProcessExit::inputFile, "cannot write " + describe(format) + " with " +
                                                   std::to_string(channels) + " channel(s) at " +
                                                   std::to_string(sampleRate) + " Hz");
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr)
    throw ProcessError(ProcessExit::inputFile,
                       "cannot write " + path + ": " + sf_strerror(nullptr));
  // Integer formats clip rather than wrap what lies beyond full scale.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  return SoundFile(file, info, path);
}

SoundFile::~SoundFile() {
  if (file_ != nullptr) sf_close(file_);
}

SoundFile::SoundFile(SoundFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      info_(other.info_),
      path_(std::move(other.path_)) {}

std::size_t SoundFile::read(float* interleaved, std::size_t frames) {
  const sf_count_t got = sf_readf_float(file_, interleaved, static_cast<sf_count_t>(frames));
  if (sf_error(file_) != SF_ERR_NO_ERROR)
    throw ProcessError(ProcessExit::inputFile, "cannot read " + path_ + ": " + sf_strerror(file_));
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}

void SoundFile::write(const float* interleaved, std::size_t frames) {
  if (sf_writef_float(file_, interleaved, static_cast<sf_count_t>(frames)) !=
      static_cast<sf_count_t>(frames))
    throw ProcessError(ProcessExit::inputFile, "cannot write " + path_ + ": " + sf_strerror(file_));
}

void SoundFile::close() {
  if (file_ == nullptr) return;
  const int result = sf_close(std::exchange(file_, nullptr));
  if (result != 0)
    throw ProcessError(ProcessExit::inputFile,
                       "cannot finish " + path_ + ": " + sf_error_number(result));
}

std::string SoundFile::describe(int format) {
  return formatName(SFC_GET_FORMAT_INFO, format & SF_FORMAT_TYPEMASK) + ", " +
         formatName(SFC_GET_FORMAT_INFO, format & SF_FORMAT_SUBMASK);
}

int SoundFile::formatByName(const std::string& name) {
  for (const NamedFormat& named : kOutputFormats)
    if (name == named.name) return named.format;
  return 0;
}

}  // namespace vorlund
