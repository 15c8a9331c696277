#include "apo/format_negotiation.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "apo/media_type.h"
#include "apo_fixture.h"

namespace vorlund {
namespace {

using test::ApoTest;
using test::CountedMediaType;
using test::floatFormat;
using test::pcm16Format;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

UNCOMPRESSEDAUDIOFORMAT formatOf(IAudioMediaType* type) {
  UNCOMPRESSEDAUDIOFORMAT format{};
  EXPECT_EQ(S_OK, type->GetUncompressedAudioFormat(&format));
  return format;
}

// Verifies acceptance: a float32 request in range is answered with itself and one more
// reference; only the channel mask may differ from the opposite side; 1 and 64 channels and
// both rate limits are accepted.
TEST(FormatNegotiationTest, AcceptsFloatFormatsInRange) {
  for (const UNCOMPRESSEDAUDIOFORMAT& format :
       {floatFormat(2, 48000.0f), floatFormat(1, 8000.0f), floatFormat(64, 384000.0f),
        floatFormat(2, 44100.5f)}) {
    CountedMediaType requested(format);
    IAudioMediaType* out = nullptr;
    EXPECT_EQ(S_OK, checkFormat(nullptr, &requested, &out));
    EXPECT_EQ(&requested, out);
    EXPECT_EQ(1, requested.extraReferences());
  }
  CountedMediaType masked(floatFormat(2, 48000.0f, 0x3));
  CountedMediaType opposite(floatFormat(2, 48000.0f, 0x60));
  IAudioMediaType* out = nullptr;
  EXPECT_EQ(S_OK, checkFormat(&opposite, &masked, &out));
  EXPECT_EQ(&masked, out);
  EXPECT_EQ(0, opposite.extraReferences());
}

// Verifies suggestions: 16-bit PCM gets its float32 version (rate, channels and mask kept)
// with a matching WAVEFORMATEXTENSIBLE; a request that differs from the opposite side in
// channels or rate gets the opposite side's float version; a fractional rate is truncated in the
// wave format; a failing opposite side is ignored.
TEST(FormatNegotiationTest, SuggestsTheFloatVersion) {
  CountedMediaType pcm(pcm16Format(2, 48000.0f, 0x3));
  ComPtr<IAudioMediaType> out;
  ASSERT_EQ(S_FALSE, checkFormat(nullptr, &pcm, out.put()));
  ASSERT_NE(nullptr, out.get());
  EXPECT_NE(&pcm, out.get());
  EXPECT_EQ(0, pcm.extraReferences());
  const UNCOMPRESSEDAUDIOFORMAT suggested = formatOf(out.get());
  EXPECT_TRUE(suggested.guidFormatType == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
  EXPECT_EQ(2u, suggested.dwSamplesPerFrame);
  EXPECT_EQ(4u, suggested.dwBytesPerSampleContainer);
  EXPECT_EQ(32u, suggested.dwValidBitsPerSample);
  EXPECT_EQ(48000.0f, suggested.fFramesPerSecond);
  EXPECT_EQ(0x3u, suggested.dwChannelMask);
  const auto* wave = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(out->GetAudioFormat());
  EXPECT_EQ(0xFFFE, wave->Format.wFormatTag);
  EXPECT_EQ(2, wave->Format.nChannels);
  EXPECT_EQ(48000u, wave->Format.nSamplesPerSec);
  EXPECT_EQ(8, wave->Format.nBlockAlign);
  EXPECT_EQ(384000u, wave->Format.nAvgBytesPerSec);
  EXPECT_EQ(32, wave->Format.wBitsPerSample);
  EXPECT_EQ(22, wave->Format.cbSize);
  EXPECT_EQ(32, wave->Samples.wValidBitsPerSample);
  EXPECT_EQ(0x3u, wave->dwChannelMask);
  EXPECT_TRUE(wave->SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
  EXPECT_EQ(0u, out.detach()->Release());

  CountedMediaType mono(floatFormat(1, 48000.0f));
  CountedMediaType stereo(floatFormat(2, 48000.0f, 0x3));
  ASSERT_EQ(S_FALSE, checkFormat(&stereo, &mono, out.put()));
  EXPECT_EQ(2u, formatOf(out.get()).dwSamplesPerFrame);
  EXPECT_EQ(0x3u, formatOf(out.get()).dwChannelMask);
  CountedMediaType slower(floatFormat(1, 44100.0f));
  ASSERT_EQ(S_FALSE, checkFormat(&mono, &slower, out.put()));
  EXPECT_EQ(48000.0f, formatOf(out.get()).fFramesPerSecond);
  EXPECT_EQ(48000u, out->GetAudioFormat()->nSamplesPerSec);
  EXPECT_EQ(1u, formatOf(out.get()).dwSamplesPerFrame);
  EXPECT_EQ(0, slower.extraReferences());

  CountedMediaType fractional(pcm16Format(1, 44100.7f));
  ASSERT_EQ(S_FALSE, checkFormat(nullptr, &fractional, out.put()));
  EXPECT_EQ(44100u, out->GetAudioFormat()->nSamplesPerSec);
  EXPECT_EQ(44100.7f, formatOf(out.get()).fFramesPerSecond);

  CountedMediaType broken(floatFormat(2, 48000.0f), E_FAIL);
  ASSERT_EQ(S_FALSE, checkFormat(&broken, &pcm, out.put()));
  EXPECT_EQ(2u, formatOf(out.get()).dwSamplesPerFrame);
}

// Verifies every refusal: null arguments, a request that cannot describe itself, 0 and 65
// channels, rates just outside the limits, a NaN rate on either side, and a bad opposite
// side that makes even a good request fail; the out-pointer is cleared each time.
TEST(FormatNegotiationTest, RefusesWhatCannotBeRepaired) {
  CountedMediaType good(floatFormat(2, 48000.0f));
  IAudioMediaType* out = &good;
  EXPECT_EQ(E_POINTER, checkFormat(nullptr, nullptr, &out));
  EXPECT_EQ(E_POINTER, checkFormat(nullptr, &good, nullptr));

  CountedMediaType silent(floatFormat(2, 48000.0f), E_NOTIMPL);
  std::vector<UNCOMPRESSEDAUDIOFORMAT> bad = {floatFormat(0, 48000.0f), floatFormat(65, 48000.0f),
                                              floatFormat(2, 7999.99f), floatFormat(2, 384000.1f),
                                              floatFormat(2, kNaN),     floatFormat(2, -48000.0f),
                                              pcm16Format(2, kNaN),     pcm16Format(65, 48000.0f)};
  out = &good;
  EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, checkFormat(nullptr, &silent, &out));
  EXPECT_EQ(nullptr, out);
  for (const UNCOMPRESSEDAUDIOFORMAT& format : bad) {
    SCOPED_TRACE(format.fFramesPerSecond);
    CountedMediaType requested(format);
    out = &good;
    EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, checkFormat(nullptr, &requested, &out));
    EXPECT_EQ(nullptr, out);
    out = &good;
    EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, checkFormat(&requested, &good, &out));
    EXPECT_EQ(nullptr, out);
  }
  EXPECT_EQ(0, good.extraReferences());
}

// Verifies the log: refusals through either method write one line naming the method, the
// requested format (all zero for a null request) and the result in eight lower-case hex
// digits; suggestions and acceptances write nothing.
TEST_F(ApoTest, RefusalsAreLoggedWithTheRequestedFormat) {
  const auto apo = test::ownApo<IAudioProcessingObject>(IID_IAudioProcessingObject);
  CountedMediaType slow(floatFormat(2, 4000.0f));
  CountedMediaType nan(pcm16Format(1, kNaN));
  CountedMediaType pcm(pcm16Format(2, 48000.0f));
  CountedMediaType good(floatFormat(2, 48000.0f));
  ComPtr<IAudioMediaType> out;
  EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, apo->IsInputFormatSupported(nullptr, &slow, out.put()));
  EXPECT_EQ(S_FALSE, apo->IsOutputFormatSupported(nullptr, &pcm, out.put()));
  EXPECT_EQ(S_OK, apo->IsInputFormatSupported(&good, &good, out.put()));
  EXPECT_EQ(E_POINTER, apo->IsOutputFormatSupported(nullptr, nullptr, out.put()));
  EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, apo->IsOutputFormatSupported(nullptr, &nan, out.put()));
  EXPECT_EQ(APOERR_FORMAT_NOT_SUPPORTED, apo->IsInputFormatSupported(&nan, &good, out.put()));

  const std::vector<std::string> lines = test::logMessages(temp_.file("apo.log"));
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("IsInputFormatSupported: 2 ch, 4 bytes/sample, 4000 Hz, float=1 -> 0x887d0003",
            lines[0]);
  EXPECT_EQ("IsOutputFormatSupported: 0 ch, 0 bytes/sample, 0 Hz, float=0 -> 0x80004003", lines[1]);
  // The requested format is logged, not the candidate; NaN prints as the C library spells it.
  EXPECT_EQ(0u, lines[2].find("IsOutputFormatSupported: 1 ch, 2 bytes/sample, "));
  EXPECT_NE(std::string::npos, lines[2].find(" Hz, float=0 -> 0x887d0003"));
  EXPECT_EQ("IsInputFormatSupported: 2 ch, 4 bytes/sample, 48000 Hz, float=1 -> 0x887d0003",
            lines[3]);
}

// Verifies the media type itself: IsEqual gives 0xE for the same format, 0x2 when only the
// rate differs (and for NaN rates, never equal), 0 for another format type or a type that
// cannot describe itself, the same from a host's type; the identity and the compressed question.
TEST(MediaTypeTest, IsEqualComparesFieldByField) {
  MediaType* type = MediaType::create(floatFormat(2, 48000.0f, 0x3));
  ASSERT_NE(nullptr, type);
  MediaType* same = MediaType::create(floatFormat(2, 48000.0f, 0x3));
  MediaType* faster = MediaType::create(floatFormat(2, 96000.0f, 0x3));
  MediaType* nanA = MediaType::create(floatFormat(2, kNaN));
  MediaType* nanB = MediaType::create(floatFormat(2, kNaN));
  CountedMediaType otherMask(floatFormat(2, 48000.0f, 0x4));
  CountedMediaType pcm(pcm16Format(2, 48000.0f, 0x3));
  CountedMediaType silent(floatFormat(2, 48000.0f, 0x3), E_FAIL);

  // The last three: a host's type answers the same way, from its side.
  struct Comparison {
    IAudioMediaType* a;
    IAudioMediaType* b;
    DWORD flags;
  };
  const Comparison comparisons[] = {
      {type, same, 0xE}, {type, type, 0xE}, {type, faster, 0x2}, {type, &otherMask, 0x2},
      {nanA, nanB, 0x2}, {type, &pcm, 0},   {type, &silent, 0},  {&otherMask, type, 0x2},
      {&pcm, &pcm, 0xE}, {&pcm, type, 0}};
  for (const Comparison& c : comparisons) {
    DWORD flags = 99;
    EXPECT_EQ(S_OK, c.a->IsEqual(c.b, &flags));
    EXPECT_EQ(c.flags, flags) << "comparison " << &c - comparisons;
  }
  DWORD flags = 99;
  EXPECT_EQ(E_POINTER, type->IsEqual(nullptr, &flags));
  EXPECT_EQ(E_POINTER, type->IsEqual(same, nullptr));
  EXPECT_EQ(E_FAIL, silent.IsEqual(type, &flags));

  BOOL compressed = TRUE;
  EXPECT_EQ(S_OK, type->IsCompressedFormat(&compressed));
  EXPECT_EQ(FALSE, compressed);
  EXPECT_EQ(E_POINTER, type->IsCompressedFormat(nullptr));
  EXPECT_EQ(E_POINTER, type->GetUncompressedAudioFormat(nullptr));
  void* found = nullptr;
  EXPECT_EQ(S_OK, type->QueryInterface(IID_IAudioMediaType, &found));
  EXPECT_EQ(static_cast<IAudioMediaType*>(type), found);
  EXPECT_EQ(S_OK, type->QueryInterface(IID_IUnknown, &found));
  found = &flags;
  EXPECT_EQ(E_NOINTERFACE, type->QueryInterface(IID_IAudioProcessingObject, &found));
  EXPECT_EQ(nullptr, found);
  EXPECT_EQ(E_POINTER, type->QueryInterface(IID_IUnknown, nullptr));
  // Two queries above added two references.
  EXPECT_EQ(4u, type->AddRef());
  EXPECT_EQ(3u, type->Release());
  EXPECT_EQ(2u, type->Release());
  EXPECT_EQ(1u, type->Release());
  for (MediaType* t : {type, same, faster, nanA, nanB}) EXPECT_EQ(0u, t->Release());
}

}  // namespace
}  // namespace vorlund
