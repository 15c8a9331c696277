#include "sound_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

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

// Other spellings of a container's extension.
constexpr NamedFormat kExtensionAliases[] = {{"aif", SF_FORMAT_AIFF}, {"ogg", SF_FORMAT_OGG}};

// Sample formats a container is tried with when it cannot hold the input's, best first.
constexpr int kPreferredSubtypes[] = {SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_FLOAT,
                                      SF_FORMAT_VORBIS};

std::string formatName(int command, int format) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, command, &info, sizeof info) != 0 || info.name == nullptr)
    return "unknown";
  return info.name;
}

struct Container {
  std::string extension;
  int major;
};

// libsndfile's list of major formats or of subtypes.
std::vector<SF_FORMAT_INFO> formatList(int countCommand, int itemCommand) {
  std::vector<SF_FORMAT_INFO> list;
  int count = 0;
  sf_command(nullptr, countCommand, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    if (sf_command(nullptr, itemCommand, &info, sizeof info) == 0) list.push_back(info);
  }
  return list;
}

// Every container libsndfile writes, by extension, in its own order (WAV before WAVEX).
std::vector<Container> containers() {
  std::vector<Container> list;
  for (const SF_FORMAT_INFO& info : formatList(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR))
    if (info.extension != nullptr)
      list.push_back({info.extension, info.format & SF_FORMAT_TYPEMASK});
  for (const NamedFormat& alias : kExtensionAliases) list.push_back({alias.name, alias.format});
  return list;
}

std::vector<int> subtypes() {
  std::vector<int> list;
  for (const SF_FORMAT_INFO& info :
       formatList(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE))
    list.push_back(info.format & SF_FORMAT_SUBMASK);
  return list;
}

bool writable(int format, int channels, int sampleRate) {
  SF_INFO info{};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  return sf_format_check(&info) != 0;
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// `major` with the input's sample format if it holds it, else the best it holds.
int withSampleFormat(int major, int inputFormat, int channels, int sampleRate) {
  std::vector<int> candidates = {inputFormat & SF_FORMAT_SUBMASK};
  candidates.insert(candidates.end(), std::begin(kPreferredSubtypes), std::end(kPreferredSubtypes));
  const std::vector<int> all = subtypes();
  candidates.insert(candidates.end(), all.begin(), all.end());
  for (int subtype : candidates)
    if (writable(major | subtype, channels, sampleRate)) return major | subtype;
  return 0;
}

}  // namespace

SoundFile SoundFile::openForReading(const std::string& path) {
  // libsndfile calls both of these "Format not recognised."
  std::error_code error;
  const std::filesystem::path named(std::u8string(path.begin(), path.end()));
  if (std::filesystem::is_directory(named, error))
    throw ProcessError(ExitCode::inputFile, "cannot read " + path + ": it is a folder");
  if (std::filesystem::is_regular_file(named, error) &&
      std::filesystem::file_size(named, error) == 0)
    throw ProcessError(ExitCode::inputFile, "cannot read " + path + ": the file is empty");
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr)
    throw ProcessError(ExitCode::inputFile, "cannot read " + path + ": " + sf_strerror(nullptr));
  return SoundFile(file, info, path);
}

SoundFile SoundFile::openForWriting(int descriptor, const std::string& path, int format,
                                    int channels, int sampleRate) {
  SF_INFO info{};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  if (!sf_format_check(&info))
    throw ProcessError(ExitCode::inputFile, "cannot write " + describe(format) + " with " +
                                                std::to_string(channels) + " channel(s) at " +
                                                std::to_string(sampleRate) + " Hz");
  SNDFILE* file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
  if (file == nullptr)
    throw ProcessError(ExitCode::inputFile, "cannot write " + path + ": " + sf_strerror(nullptr));
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
    throw ProcessError(ExitCode::inputFile, "cannot read " + path_ + ": " + sf_strerror(file_));
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}

void SoundFile::write(const float* interleaved, std::size_t frames) {
  if (sf_writef_float(file_, interleaved, static_cast<sf_count_t>(frames)) !=
      static_cast<sf_count_t>(frames))
    throw ProcessError(ExitCode::inputFile, "cannot write " + path_ + ": " + sf_strerror(file_));
}

void SoundFile::close() {
  if (file_ == nullptr) return;
  const int result = sf_close(std::exchange(file_, nullptr));
  if (result != 0)
    throw ProcessError(ExitCode::inputFile,
                       "cannot finish " + path_ + ": " + sf_error_number(result));
}

sf_count_t SoundFile::declaredFrames() const {
  // A cut-off file shows in libsndfile's log as "data : 745296 (should be 99956)": the
  // sound chunk's size as the header gives it and as the file holds it.
  std::string log(4096, '\0');
  sf_command(file_, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  log.resize(log.find('\0'));
  for (const char* chunk : {"\ndata : ", "\nSSND : "}) {
    const std::size_t at = log.find(chunk);
    if (at == std::string::npos) continue;
    unsigned long long declared = 0, present = 0;
    if (std::sscanf(log.c_str() + at + std::strlen(chunk), "%llu (should be %llu)", &declared,
                    &present) == 2 &&
        present > 0 && declared > present)
      return static_cast<sf_count_t>(static_cast<double>(info_.frames) *
                                     static_cast<double>(declared) / static_cast<double>(present));
  }
  return info_.frames;
}

std::string SoundFile::describe(int format) {
  return formatName(SFC_GET_FORMAT_INFO, format & SF_FORMAT_TYPEMASK) + ", " +
         formatName(SFC_GET_FORMAT_INFO, format & SF_FORMAT_SUBMASK);
}

std::string SoundFile::formatNames() {
  std::vector<std::string> extensions;
  for (const Container& container : containers())
    if (std::find(extensions.begin(), extensions.end(), container.extension) == extensions.end())
      extensions.push_back(container.extension);
  std::sort(extensions.begin(), extensions.end());
  std::string names = "containers";
  for (const std::string& extension : extensions)
    names += (names == "containers" ? " " : ", ") + extension;
  names += "; with a sample format";
  for (const NamedFormat& named : kOutputFormats)
    names += (names.ends_with("format") ? " " : ", ") + std::string(named.name);
  return names;
}

int SoundFile::chooseOutputFormat(const std::string* requested, const std::string& outputPath,
                                  int inputFormat, int channels, int sampleRate) {
  const int inputMajor = inputFormat & SF_FORMAT_TYPEMASK;
  std::string name;
  if (requested != nullptr) {
    name = lowered(*requested);
    for (const NamedFormat& named : kOutputFormats)
      if (name == named.name) return named.format;
  } else {
    const std::string extension = std::filesystem::path(outputPath).extension().string();
    if (extension.empty()) return inputFormat;
    name = lowered(extension.substr(1));
  }
  // The input's own container when the name fits it (".wav" keeps a WAVEX input WAVEX).
  std::vector<int> majors;
  for (const Container& container : containers())
    if (container.extension == name) majors.push_back(container.major);
  if (majors.empty()) {
    const std::string what = requested != nullptr
                                 ? "--format: unknown format '" + *requested + "'"
                                 : outputPath + ": unknown extension '." + name + "'";
    throw ProcessError(ExitCode::usage,
                       what + "; the formats are " + formatNames() +
                           (requested != nullptr ? "" : " (--format chooses one for any name)"));
  }
  if (std::find(majors.begin(), majors.end(), inputMajor) != majors.end()) {
    if (writable(inputFormat, channels, sampleRate)) return inputFormat;
    majors.insert(majors.begin(), inputMajor);
  }
  for (int major : majors)
    if (const int format = withSampleFormat(major, inputFormat, channels, sampleRate))
      return format;
  throw ProcessError(ExitCode::inputFile,
                     "cannot write " + formatName(SFC_GET_FORMAT_INFO, majors.front()) + " with " +
                         std::to_string(channels) + " channel(s) at " + std::to_string(sampleRate) +
                         " Hz");
}

}  // namespace vorlund
