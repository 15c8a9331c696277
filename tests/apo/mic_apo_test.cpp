#include "apo/mic_apo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "apo/effects_list.h"
#include "apo_fixture.h"
#include "signal_helpers.h"
#include "vorlund_version.h"

namespace vorlund {
namespace {

using test::ApoTest;
using test::createApo;
using test::floatFormat;
using test::HostStream;
using test::ownApo;
using test::ownQuery;
using test::queryApo;

void* const kGarbage = reinterpret_cast<void*>(0x1234);

// Verifies the identity table: every interface answers, the three system-effects IIDs give
// one pointer, IUnknown through any interface gives the one Inner (which leads back to the
// same interfaces), unknown IIDs clear the out-pointer, and all interfaces share one count
// whose last Release destroys the object and lowers objectCount.
TEST_F(ApoTest, IdentityTableSharesOneCount) {
  const int before = objectCount.load();
  auto* apo = createApo<IAudioProcessingObject>(IID_IAudioProcessingObject);
  ASSERT_NE(nullptr, apo);
  EXPECT_EQ(before + 1, objectCount.load());

  auto* rt = queryApo<IAudioProcessingObjectRT>(apo, IID_IAudioProcessingObjectRT);
  auto* config =
      queryApo<IAudioProcessingObjectConfiguration>(apo, IID_IAudioProcessingObjectConfiguration);
  auto* effects = queryApo<IUnknown>(apo, IID_IAudioSystemEffects);
  auto* effects2 = queryApo<IUnknown>(rt, IID_IAudioSystemEffects2);
  auto* effects3 = queryApo<IUnknown>(config, IID_IAudioSystemEffects3);
  EXPECT_EQ(effects, effects2);
  EXPECT_EQ(effects, effects3);
  EXPECT_EQ(apo, queryApo<IAudioProcessingObject>(effects3, IID_IAudioProcessingObject));

  IUnknown* via[] = {apo, rt, config, effects};
  auto* identity = queryApo<IUnknown>(apo, IID_IUnknown);
  for (IUnknown* i : via) EXPECT_EQ(identity, queryApo<IUnknown>(i, IID_IUnknown));
  for (IUnknown* i : via) EXPECT_NE(static_cast<void*>(identity), static_cast<void*>(i));
  EXPECT_EQ(static_cast<void*>(config),
            queryApo<void>(identity, IID_IAudioProcessingObjectConfiguration));

  for (const IID& missing : {IID_IClassFactory, IID_IAudioMediaType, CLSID_VorlundApo}) {
    void* out = kGarbage;
    EXPECT_EQ(E_NOINTERFACE, apo->QueryInterface(missing, &out));
    EXPECT_EQ(nullptr, out);
    out = kGarbage;
    EXPECT_EQ(E_NOINTERFACE, identity->QueryInterface(missing, &out));
    EXPECT_EQ(nullptr, out);
  }
  EXPECT_EQ(E_POINTER, apo->QueryInterface(IID_IUnknown, nullptr));
  EXPECT_EQ(E_POINTER, identity->QueryInterface(IID_IUnknown, nullptr));

  // Creation's reference, 6 interfaces and 1 + 4 + 1 IUnknown/config queries above.
  constexpr ULONG kHeld = 1 + 6 + 6;
  EXPECT_EQ(kHeld + 1, rt->AddRef());
  EXPECT_EQ(kHeld, effects->Release());
  for (ULONG left = kHeld - 1; left > 0; --left) {
    EXPECT_EQ(left, apo->Release());
    EXPECT_EQ(before + 1, objectCount.load());
  }
  EXPECT_EQ(0u, apo->Release());
  EXPECT_EQ(before, objectCount.load());
}

// Verifies aggregation: an outer object receives the Inner, every interface counts and
// answers IUnknown through the outer object, Inner keeps the object's own count, and an
// aggregating request for anything but IUnknown is refused without an object left behind.
TEST_F(ApoTest, AggregatedObjectDelegatesToItsOuterObject) {
  test::RecordingOuter outer;
  const int before = objectCount.load();
  void* out = kGarbage;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            test::classFactory()->CreateInstance(&outer, IID_IAudioProcessingObject, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(before, objectCount.load());

  auto* inner = createApo<IUnknown>(IID_IUnknown, &outer);
  ASSERT_NE(nullptr, inner);
  EXPECT_EQ(1, outer.count.load());
  auto* apo = queryApo<IAudioProcessingObject>(inner, IID_IAudioProcessingObject);
  EXPECT_EQ(2, outer.count.load());
  EXPECT_EQ(3u, apo->AddRef());
  EXPECT_EQ(0, outer.queries.load());
  EXPECT_EQ(static_cast<IUnknown*>(&outer), queryApo<IUnknown>(apo, IID_IUnknown));
  EXPECT_EQ(1, outer.queries.load());
  EXPECT_EQ(4, outer.count.load());
  // The outer object's own answer for an interface it lacks, though the object has it.
  void* rt = kGarbage;
  EXPECT_EQ(E_NOINTERFACE, apo->QueryInterface(IID_IAudioProcessingObjectRT, &rt));
  EXPECT_EQ(nullptr, rt);
  EXPECT_EQ(3u, apo->Release());
  EXPECT_EQ(2u, apo->Release());
  EXPECT_EQ(2, outer.count.load());
  EXPECT_EQ(before + 1, objectCount.load());

  // Inner's own count: the object lives until Inner's last reference goes.
  EXPECT_EQ(2u, inner->AddRef());
  EXPECT_EQ(1u, inner->Release());
  EXPECT_EQ(0u, inner->Release());
  EXPECT_EQ(before, objectCount.load());
}

// Verifies the small methods: GetLatency is 0 unlocked and the chain's (512 + 72 - 1) and
// (512 + 66 - 1) samples in 100-ns units, truncated, at 48000 and 44100 Hz;
// GetInputChannelCount is 1 before the first lock and keeps the last locked count;
// Initialize refuses only a sized null block; the frame counts pass unchanged; null
// out-pointers are refused.
TEST_F(ApoTest, SmallMethodsFollowTheLockedStream) {
  const auto apo = ownApo<IAudioProcessingObject>(IID_IAudioProcessingObject);
  const auto rt = ownQuery<IAudioProcessingObjectRT>(apo.get(), IID_IAudioProcessingObjectRT);
  const auto config = ownQuery<IAudioProcessingObjectConfiguration>(
      apo.get(), IID_IAudioProcessingObjectConfiguration);

  EXPECT_EQ(E_POINTER, apo->GetLatency(nullptr));
  EXPECT_EQ(E_POINTER, apo->GetInputChannelCount(nullptr));
  HNSTIME latency = -1;
  UINT32 channels = 0;
  EXPECT_EQ(S_OK, apo->GetLatency(&latency));
  EXPECT_EQ(0, latency);
  EXPECT_EQ(S_OK, apo->GetInputChannelCount(&channels));
  EXPECT_EQ(1u, channels);

  struct Case {
    float rate;
    UINT32 channels;
    int lookahead;
  };
  for (const Case& c : {Case{48000.0f, 2, 72}, Case{44100.0f, 6, 66}}) {
    SCOPED_TRACE(c.rate);
    HostStream stream(floatFormat(c.channels, c.rate));
    ASSERT_EQ(S_OK, stream.lock(*config));
    EXPECT_EQ(S_OK, apo->GetLatency(&latency));
    EXPECT_EQ(static_cast<HNSTIME>((512.0 + c.lookahead - 1) * 10'000'000.0 / c.rate), latency);
    EXPECT_EQ(S_OK, apo->GetInputChannelCount(&channels));
    EXPECT_EQ(c.channels, channels);
    EXPECT_EQ(S_OK, config->UnlockForProcess());
    EXPECT_EQ(S_OK, apo->GetLatency(&latency));
    EXPECT_EQ(0, latency);
    EXPECT_EQ(S_OK, apo->GetInputChannelCount(&channels));
    EXPECT_EQ(c.channels, channels);
  }
  EXPECT_EQ(121458, static_cast<HNSTIME>(583 * 10'000'000.0 / 48000));

  BYTE block[88] = {};
  EXPECT_EQ(S_OK, apo->Initialize(0, nullptr));
  EXPECT_EQ(E_POINTER, apo->Initialize(88, nullptr));
  EXPECT_EQ(S_OK, apo->Initialize(88, block));
  EXPECT_EQ(S_OK, apo->Initialize(88, block));
  for (UINT32 frames : {0u, 480u, 0xFFFFFFFFu}) {
    EXPECT_EQ(frames, rt->CalcInputFrames(frames));
    EXPECT_EQ(frames, rt->CalcOutputFrames(frames));
  }
}

// Verifies that GetRegistrationProperties hands out a fresh 1092-byte copy of the record the
// registry is written from: the class, the four flags, the names and the limits.
TEST_F(ApoTest, RegistrationPropertiesAreAFreshCopyOfTheRecord) {
  const auto apo = ownApo<IAudioProcessingObject>(IID_IAudioProcessingObject);
  EXPECT_EQ(E_POINTER, apo->GetRegistrationProperties(nullptr));
  APO_REG_PROPERTIES* first = nullptr;
  APO_REG_PROPERTIES* second = nullptr;
  ASSERT_EQ(S_OK, apo->GetRegistrationProperties(&first));
  ASSERT_EQ(S_OK, apo->GetRegistrationProperties(&second));
  EXPECT_NE(first, second);
  EXPECT_EQ(0, std::memcmp(first, &kRegistrationProperties, sizeof(APO_REG_PROPERTIES)));
  std::memset(first, 0, sizeof(APO_REG_PROPERTIES));
  EXPECT_EQ(0, std::memcmp(second, &kRegistrationProperties, sizeof(APO_REG_PROPERTIES)));

  EXPECT_TRUE(second->clsid == CLSID_VorlundApo);
  EXPECT_EQ(0xFu, static_cast<unsigned>(second->Flags));
  EXPECT_EQ(std::u16string(u"Vorlund"),
            std::u16string(second->szFriendlyName, second->szFriendlyName + 7));
  EXPECT_EQ(0, second->szFriendlyName[7]);
  const WCHAR* notice = second->szCopyrightInfo;
  std::size_t length = 0;
  while (length < 256 && notice[length] != 0) ++length;
  EXPECT_GT(length, 0u);
  EXPECT_LT(length, 256u);
  EXPECT_EQ(unsigned{VORLUND_VERSION_MAJOR}, second->u32MajorVersion);
  EXPECT_EQ(unsigned{VORLUND_VERSION_MINOR}, second->u32MinorVersion);
  EXPECT_EQ(1u, second->u32MinInputConnections);
  EXPECT_EQ(1u, second->u32MaxInputConnections);
  EXPECT_EQ(1u, second->u32MinOutputConnections);
  EXPECT_EQ(1u, second->u32MaxOutputConnections);
  EXPECT_EQ(0xFFFFFFFFu, second->u32MaxInstances);
  EXPECT_EQ(1u, second->u32NumAPOInterfaces);
  EXPECT_TRUE(second->iidAPOInterfaceList[0] == IID_IAudioSystemEffects);
  CoTaskMemFree(first);
  CoTaskMemFree(second);
}

// Verifies that Reset reaches the chain: an object that processed other audio and was reset
// then produces, bit for bit, what a freshly locked object produces from the same input.
TEST_F(ApoTest, ResetMakesProcessingRepeatExactly) {
  constexpr UINT32 kFrames = 480;
  constexpr int kBlocks = 60;
  const std::vector<float> speechLike = test::whiteNoise(kFrames * kBlocks, 7, 0.3f);
  const std::vector<float> other = test::sine(300.0, 48000.0, kFrames * kBlocks, 0.8);

  // One object locked for mono at 48 kHz. The stream is declared first: the object, still
  // locked, lets go of its format as it goes.
  struct Locked {
    Locked()
        : stream(floatFormat(1, 48000.0f)),
          apo(ownApo<IAudioProcessingObject>(IID_IAudioProcessingObject)),
          rt(ownQuery<IAudioProcessingObjectRT>(apo.get(), IID_IAudioProcessingObjectRT)),
          config(ownQuery<IAudioProcessingObjectConfiguration>(
              apo.get(), IID_IAudioProcessingObjectConfiguration)) {
      EXPECT_EQ(S_OK, stream.lock(*config));
    }
    std::vector<float> run(const std::vector<float>& in) {
      std::vector<float> out;
      for (int b = 0; b < kBlocks; ++b) {
        std::vector<float> block(in.begin() + b * kFrames, in.begin() + (b + 1) * kFrames);
        stream.process(*rt, block.data(), kFrames);
        out.insert(out.end(), block.begin(), block.end());
      }
      return out;
    }
    HostStream stream;
    ComPtr<IAudioProcessingObject> apo;
    ComPtr<IAudioProcessingObjectRT> rt;
    ComPtr<IAudioProcessingObjectConfiguration> config;
  };

  Locked used;
  const std::vector<float> warmUp = used.run(other);
  EXPECT_EQ(S_OK, used.apo->Reset());
  const std::vector<float> afterReset = used.run(speechLike);
  Locked fresh;
  const std::vector<float> expected = fresh.run(speechLike);

  EXPECT_GT(test::rms(warmUp), 0.01);
  EXPECT_GT(test::rms(expected), 0.001);
  EXPECT_EQ(expected, afterReset);
}

}  // namespace
}  // namespace vorlund
