// Sound files written and read back with libsndfile, interleaved.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <vector>

namespace vorlund::test {

struct Sound {
  SF_INFO info{};
  std::vector<float> samples;  // interleaved
};

inline void writeSound(const std::filesystem::path& path, int format, int rate, int channels,
                       const std::vector<float>& interleaved) {
  SF_INFO info{};
  info.format = format;
  info.samplerate = rate;
  info.channels = channels;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
  ASSERT_NE(nullptr, file) << sf_strerror(nullptr);
  sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
  sf_close(file);
}

inline Sound readSound(const std::filesystem::path& path) {
  Sound sound;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &sound.info);
  EXPECT_NE(nullptr, file) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return sound;
  sound.samples.resize(static_cast<std::size_t>(sound.info.frames * sound.info.channels));
  sf_readf_float(file, sound.samples.data(), sound.info.frames);
  sf_close(file);
  return sound;
}

}  // namespace vorlund::test
