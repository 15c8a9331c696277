// The component as the audio engine meets it: the library file loaded into the process
// (dlopen on Linux, LoadLibraryW under Wine), its exports found by name, and everything
// else reached through the COM interfaces they hand out. The test links none of the COM
// shell; the control application's side (shared.bin) uses the project's own record code.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "com_test_objects.h"
#include "integration/component.h"
#include "platform/registry.h"
#include "record_helpers.h"
#include "signal_helpers.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

using test::Component;
using test::ControlSide;
using test::CountedMediaType;
using test::floatFormat;
using test::kClsid;
using test::query;

std::vector<GUID> effectsList(IAudioSystemEffects2* effects) {
  LPGUID list = nullptr;
  UINT count = 0;
  EXPECT_EQ(S_OK, effects->GetEffectsList(&list, &count, nullptr));
  std::vector<GUID> out;
  if (list != nullptr) out.assign(list, list + count);
  CoTaskMemFree(list);
  return out;
}

// Verifies a whole session driven through the exports: factory, object, initialisation,
// registration record, format questions with the host's own media types, lock, thousands of
// stereo blocks (finite, within full scale, identical on both channels), a bypass record
// from the control side passing audio bit for bit and emptying the effects list, latency,
// unlock, and a library that may be unloaded once everything is released. The stream status
// and the log the library wrote are read back.
TEST(ApoExportsTest, FullSessionThroughTheExports) {
  test::TempDataFolder temp;
  Component component;
  ASSERT_TRUE(component.complete());
  EXPECT_EQ(S_OK, component.canUnloadNow());

  IClassFactory* factory = component.factory();
  ASSERT_NE(nullptr, factory);
  void* created = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IAudioProcessingObject, &created));
  auto* apo = static_cast<IAudioProcessingObject*>(created);
  EXPECT_EQ(S_FALSE, component.canUnloadNow());

  BYTE initBlock[88] = {};
  EXPECT_EQ(S_OK, apo->Initialize(sizeof initBlock, initBlock));
  APO_REG_PROPERTIES* properties = nullptr;
  ASSERT_EQ(S_OK, apo->GetRegistrationProperties(&properties));
  EXPECT_TRUE(properties->clsid == kClsid);
  EXPECT_EQ(0xFu, static_cast<unsigned>(properties->Flags));
  EXPECT_EQ(1u, properties->u32NumAPOInterfaces);
  EXPECT_TRUE(properties->iidAPOInterfaceList[0] == IID_IAudioSystemEffects);
  CoTaskMemFree(properties);

  CountedMediaType stereo(floatFormat(2, 48000.0f, 0x3));
  CountedMediaType pcm(test::pcm16Format(2, 48000.0f, 0x3));
  IAudioMediaType* answer = nullptr;
  EXPECT_EQ(S_OK, apo->IsInputFormatSupported(nullptr, &stereo, &answer));
  EXPECT_EQ(&stereo, answer);
  answer->Release();
  EXPECT_EQ(S_OK, apo->IsOutputFormatSupported(&stereo, &stereo, &answer));
  answer->Release();
  EXPECT_EQ(0, stereo.extraReferences());
  ASSERT_EQ(S_FALSE, apo->IsInputFormatSupported(nullptr, &pcm, &answer));
  UNCOMPRESSEDAUDIOFORMAT suggested{};
  EXPECT_EQ(S_OK, answer->GetUncompressedAudioFormat(&suggested));
  EXPECT_TRUE(suggested.guidFormatType == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
  EXPECT_EQ(2u, suggested.dwSamplesPerFrame);
  EXPECT_EQ(0u, answer->Release());

  auto* rt = query<IAudioProcessingObjectRT>(apo, IID_IAudioProcessingObjectRT);
  auto* config =
      query<IAudioProcessingObjectConfiguration>(apo, IID_IAudioProcessingObjectConfiguration);
  auto* effects = query<IAudioSystemEffects2>(apo, IID_IAudioSystemEffects2);
  test::HostStream stream(floatFormat(2, 48000.0f, 0x3));
  ASSERT_EQ(S_OK, stream.lock(*config));

  ControlSide control;
  SharedBlock& block = control.block();
  EXPECT_EQ(1, control.read(block.activeStreams));
  EXPECT_EQ(48000, control.read(block.streamSampleRate));
  EXPECT_EQ(2u, control.read(block.streamChannels));
  EXPECT_EQ(512 + 72 - 1, control.read(block.latencySamples));

  constexpr UINT32 kFrames = 480;
  constexpr int kBlocks = 2000;
  constexpr int kBypassFrom = 1500;
  const std::vector<float> voice = test::voiceLike(48000, 1, kFrames * kBlocks / 48000.0, 0.12);
  double processedEnergy = 0.0;
  int unequalFrames = 0, outOfRange = 0, changedInBypass = 0;
  for (int b = 0; b < kBlocks; ++b) {
    if (b == kBypassFrom) {
      ParameterBlock record = test::defaultRecord();
      record.bypass = 1;
      publishRecord(block, record);
    }
    std::vector<float> samples(kFrames * 2);
    for (UINT32 k = 0; k < kFrames; ++k)
      samples[2 * k] = samples[2 * k + 1] = voice[b * kFrames + k];
    const APO_CONNECTION_PROPERTY out = stream.process(*rt, samples.data(), kFrames);
    ASSERT_EQ(kFrames, out.u32ValidFrameCount);
    ASSERT_EQ(BUFFER_VALID, out.u32BufferFlags);
    for (UINT32 k = 0; k < kFrames; ++k) {
      const float left = samples[2 * k], right = samples[2 * k + 1];
      if (left != right) ++unequalFrames;
      if (!(std::fabs(left) <= 1.0f)) ++outOfRange;
      if (b < kBypassFrom && b >= kBypassFrom / 2) processedEnergy += double(left) * left;
      if (b >= kBypassFrom && left != voice[b * kFrames + k]) ++changedInBypass;
    }
  }
  EXPECT_EQ(0, unequalFrames);
  EXPECT_EQ(0, outOfRange);
  EXPECT_EQ(0, changedInBypass);
  EXPECT_GT(processedEnergy, 1.0) << "the processed voice was not silenced";
  EXPECT_EQ(static_cast<std::uint64_t>(kBlocks), control.read(block.processedBlocks));
  EXPECT_EQ(1u, control.read(block.bypassActive));
  EXPECT_TRUE(effectsList(effects).empty());

  ParameterBlock defaults = test::defaultRecord();
  publishRecord(block, defaults);
  std::vector<float> silence(kFrames * 2, 0.0f);
  stream.process(*rt, silence.data(), kFrames);
  const std::vector<GUID> listed = effectsList(effects);
  ASSERT_EQ(3u, listed.size());
  EXPECT_TRUE(listed[0] == AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION);
  EXPECT_TRUE(listed[1] == AUDIO_EFFECT_TYPE_EQUALIZER);
  EXPECT_TRUE(listed[2] == AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION);

  HNSTIME latency = 0;
  EXPECT_EQ(S_OK, apo->GetLatency(&latency));
  EXPECT_EQ(static_cast<HNSTIME>(583 * 10'000'000.0 / 48000.0), latency);
  EXPECT_EQ(S_OK, config->UnlockForProcess());
  EXPECT_EQ(0, control.read(block.activeStreams));
  EXPECT_EQ(S_OK, apo->GetLatency(&latency));
  EXPECT_EQ(0, latency);

  effects->Release();
  config->Release();
  rt->Release();
  EXPECT_EQ(S_FALSE, component.canUnloadNow());
  EXPECT_EQ(0u, apo->Release());
  EXPECT_EQ(S_OK, component.canUnloadNow());

  const std::vector<std::string> lines = test::logMessages(temp.file("apo.log"));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("LockForProcess: 48000 Hz, 2 ch, max 480 frames, shared=1, bypass=0, ns=1", lines[0]);
  EXPECT_EQ(0u, lines[1].find("UnlockForProcess: 2001 blocks, peak in "));
}

// Verifies the refusals a host meets at the exports: another class, another interface, an
// aggregating request for anything but IUnknown, and server locks holding the library.
TEST(ApoExportsTest, ExportsRefuseWhatTheyDoNotServe) {
  Component component;
  ASSERT_TRUE(component.complete());
  void* out = &out;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            component.getClassObject(IID_IAudioProcessingObject, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_NOINTERFACE, component.getClassObject(kClsid, IID_IAudioMediaType, &out));
  EXPECT_EQ(E_POINTER, component.getClassObject(kClsid, IID_IClassFactory, nullptr));

  IClassFactory* factory = component.factory();
  test::RecordingOuter outer;
  out = &out;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(&outer, IID_IAudioProcessingObject, &out));
  EXPECT_EQ(nullptr, out);
  ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, &out));
  auto* inner = static_cast<IUnknown*>(out);
  auto* apo = query<IAudioProcessingObject>(inner, IID_IAudioProcessingObject);
  EXPECT_EQ(2, outer.count.load());
  apo->Release();
  EXPECT_EQ(S_FALSE, component.canUnloadNow());
  EXPECT_EQ(0u, inner->Release());

  EXPECT_EQ(S_OK, component.canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, component.canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, component.canUnloadNow());
}

// Verifies that a library whose full path does not fit the 260-character buffer refuses to
// register (ERROR_INSUFFICIENT_BUFFER) rather than registering a cut path, while the same
// library at a short path registers and unregisters. Linux only: the library is reached
// through a short symbolic link to a long folder, which only the stand-in registry allows
// to write from a test.
TEST(ApoExportsTest, CutModulePathIsNeverRegistered) {
  if (!registryIsStandIn()) GTEST_SKIP() << "regsvr32 covers the real registry";
  namespace fs = std::filesystem;
  test::TempDataFolder temp;
  const fs::path deep = temp.programData() / std::string(120, 'd') / std::string(120, 'e');
  fs::create_directories(deep);
  const fs::path library = fs::path(VORLUND_APO_LIBRARY);
  fs::copy_file(library, deep / library.filename());
  fs::create_directory_symlink(deep, temp.programData() / "short");
  ASSERT_GT(fs::canonical(deep).string().size(), 260u);

  Component cut(Path::fromUtf8((temp.programData() / "short" / library.filename()).string()));
  ASSERT_TRUE(cut.complete());
  EXPECT_EQ(static_cast<HRESULT>(0x8007007Au), cut.registerServer());

  Component whole;
  ASSERT_TRUE(whole.complete());
  EXPECT_EQ(S_OK, whole.registerServer());
  EXPECT_EQ(S_OK, whole.unregisterServer());
}

}  // namespace
}  // namespace vorlund
