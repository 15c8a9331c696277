#include "apo/effects_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "apo_fixture.h"
#include "channel/parameter_channel.h"
#include "engine/shared_block.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "record_helpers.h"

namespace vorlund {
namespace {

using test::ApoTest;
using test::ownApo;
using test::ownQuery;

std::vector<GUID> listOf(IAudioSystemEffects2* effects) {
  LPGUID list = reinterpret_cast<LPGUID>(0x1234);
  UINT count = 99;
  EXPECT_EQ(S_OK, effects->GetEffectsList(&list, &count, nullptr));
  std::vector<GUID> out;
  if (count == 0) {
    EXPECT_EQ(nullptr, list);
  }
  if (list != nullptr) out.assign(list, list + count);
  CoTaskMemFree(list);
  return out;
}

// The control application's side: its own mapping of shared.bin; null on failure.
SharedBlock* mapSharedFile(File& file, FileMapping& mapping) {
  if (file.open(sharedFilePath(), FileAccess::readWriteAlways) != 0 ||
      mapping.create(file, ParameterChannel::kSharedFileBytes) != 0 ||
      mapping.mapView(sizeof(SharedBlock)) != 0)
    return nullptr;
  return static_cast<SharedBlock*>(mapping.view());
}

void expectList(const std::vector<GUID>& expected, const std::vector<GUID>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(expected[i] == actual[i]) << "entry " << i;
}

// Verifies the list for the default record (noise suppression, equalizer, dynamics), for a
// bypassed record (empty, null list, S_OK), with only the limiter on (dynamics still
// listed), with both dynamics stages off, and with every stage on (four, in order).
TEST(EffectsListTest, ListFollowsTheSwitches) {
  ParameterBlock params = test::defaultRecord();
  std::array<GUID, kMaxEffectTypes> types;
  ASSERT_EQ(3u, activeEffectTypes(params, types));
  expectList({AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION, AUDIO_EFFECT_TYPE_EQUALIZER,
              AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION},
             {types.begin(), types.begin() + 3});

  ParameterBlock all = params;
  all.agcEnabled = 1;
  ASSERT_EQ(4u, activeEffectTypes(all, types));
  expectList({AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION, AUDIO_EFFECT_TYPE_AUTOMATIC_GAIN_CONTROL,
              AUDIO_EFFECT_TYPE_EQUALIZER, AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION},
             {types.begin(), types.end()});

  ParameterBlock bypassed = all;
  bypassed.bypass = 1;
  EXPECT_EQ(0u, activeEffectTypes(bypassed, types));
  LPGUID list = reinterpret_cast<LPGUID>(0x1234);
  UINT count = 99;
  EXPECT_EQ(S_OK, getEffectsList(bypassed, &list, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(nullptr, list);

  ParameterBlock limiterOnly = params;
  limiterOnly.compEnabled = 0;
  ASSERT_EQ(3u, activeEffectTypes(limiterOnly, types));
  EXPECT_TRUE(types[2] == AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION);
  limiterOnly.limiterEnabled = 0;
  limiterOnly.nsEnabled = 0;
  ASSERT_EQ(1u, activeEffectTypes(limiterOnly, types));
  EXPECT_TRUE(types[0] == AUDIO_EFFECT_TYPE_EQUALIZER);

  EXPECT_EQ(E_POINTER, getEffectsList(params, nullptr, &count));
  EXPECT_EQ(E_POINTER, getEffectsList(params, &list, nullptr));
}

// Verifies through the object: the defaults before any lock; the record a control
// application left in shared.bin once LockForProcess has applied it; a record published
// while locked at the next block; no controllable effects; and every state change refused
// with ERROR_NOT_FOUND.
TEST_F(ApoTest, ObjectListsTheRecordItLastApplied) {
  auto effects = ownApo<IAudioSystemEffects3>(IID_IAudioSystemEffects3);
  ASSERT_TRUE(effects);
  expectList({AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION, AUDIO_EFFECT_TYPE_EQUALIZER,
              AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION},
             listOf(effects.get()));

  File file;
  FileMapping mapping;
  SharedBlock* mapped = mapSharedFile(file, mapping);
  ASSERT_NE(nullptr, mapped);
  SharedBlock& block = *mapped;
  initialiseBlock(block);
  ParameterBlock record = test::defaultRecord();
  record.agcEnabled = 1;
  record.eqEnabled = 0;
  publishRecord(block, record);

  auto config = ownQuery<IAudioProcessingObjectConfiguration>(
      effects.get(), IID_IAudioProcessingObjectConfiguration);
  auto rt = ownQuery<IAudioProcessingObjectRT>(effects.get(), IID_IAudioProcessingObjectRT);
  test::HostStream stream(test::floatFormat(1, 48000.0f));
  ASSERT_EQ(S_OK, stream.lock(*config));
  expectList({AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION, AUDIO_EFFECT_TYPE_AUTOMATIC_GAIN_CONTROL,
              AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION},
             listOf(effects.get()));

  record.bypass = 1;
  publishRecord(block, record);
  EXPECT_EQ(3u, listOf(effects.get()).size());
  std::vector<float> samples(480, 0.1f);
  stream.process(*rt, samples.data(), 480);
  EXPECT_TRUE(listOf(effects.get()).empty());

  AUDIO_SYSTEMEFFECT* controllable = reinterpret_cast<AUDIO_SYSTEMEFFECT*>(0x1234);
  UINT count = 7;
  EXPECT_EQ(S_OK, effects->GetControllableSystemEffectsList(&controllable, &count, nullptr));
  EXPECT_EQ(nullptr, controllable);
  EXPECT_EQ(0u, count);
  EXPECT_EQ(E_POINTER, effects->GetControllableSystemEffectsList(nullptr, &count, nullptr));
  EXPECT_EQ(E_POINTER, effects->GetControllableSystemEffectsList(&controllable, nullptr, nullptr));
  for (auto state : {AUDIO_SYSTEMEFFECT_STATE_OFF, AUDIO_SYSTEMEFFECT_STATE_ON})
    EXPECT_EQ(static_cast<HRESULT>(0x80070490u),
              effects->SetAudioSystemEffectState(AUDIO_EFFECT_TYPE_EQUALIZER, state));
  EXPECT_EQ(S_OK, config->UnlockForProcess());
  mapping.close();
}

// Runs under ThreadSanitizer with the other threading tests.
class ApoThreadTest : public ApoTest {};

// Verifies, for ThreadSanitizer, that GetEffectsList on a configuration thread while the
// real-time thread applies a new record every block reads no part of the record itself, and
// that every list it returns is one of the two records' lists, never a mixture.
TEST_F(ApoThreadTest, EffectsListWhileTheRecordChanges) {
  auto effects = ownApo<IAudioSystemEffects2>(IID_IAudioSystemEffects2);
  ASSERT_TRUE(effects);
  auto config = ownQuery<IAudioProcessingObjectConfiguration>(
      effects.get(), IID_IAudioProcessingObjectConfiguration);
  auto rt = ownQuery<IAudioProcessingObjectRT>(effects.get(), IID_IAudioProcessingObjectRT);
  test::HostStream stream(test::floatFormat(1, 48000.0f));
  ASSERT_EQ(S_OK, stream.lock(*config));
  File file;
  FileMapping mapping;
  SharedBlock* block = mapSharedFile(file, mapping);
  ASSERT_NE(nullptr, block);
  ParameterBlock a, b;
  setDefaults(a);
  setDefaults(b);
  b.nsEnabled = 0;
  b.agcEnabled = 1;
  b.eqEnabled = 0;
  b.compEnabled = b.limiterEnabled = 0;

  std::atomic<bool> done{false};
  std::thread audio([&] {
    std::vector<float> samples(480);
    for (int i = 0; i < 2000; ++i) {
      publishRecord(*block, i % 2 == 0 ? a : b);
      std::fill(samples.begin(), samples.end(), 0.1f);
      stream.process(*rt, samples.data(), 480);
    }
    done = true;
  });
  int mixtures = 0;
  while (!done) {
    const std::vector<GUID> list = listOf(effects.get());
    const bool isA = list.size() == 3 && list[0] == AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION;
    const bool isB = list.size() == 1 && list[0] == AUDIO_EFFECT_TYPE_AUTOMATIC_GAIN_CONTROL;
    if (!isA && !isB) ++mixtures;
  }
  audio.join();
  EXPECT_EQ(0, mixtures);
  EXPECT_EQ(S_OK, config->UnlockForProcess());
  mapping.close();
}

}  // namespace
}  // namespace vorlund
