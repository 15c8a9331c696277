#include "apo_host.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "apo/registration.h"
#include "common/system_error_text.h"
#include "process_error.h"

namespace vorlund {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

std::string hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

void check(HRESULT result, const char* call) {
  if (FAILED(result))
    throw ProcessError(ExitCode::apoFailure,
                       std::string("the effect failed ") + call + " (" + hex(result) + ")");
}

template <typename Interface>
ComPtr<Interface> query(IUnknown* object, REFIID riid, const char* name) {
  void* found = nullptr;
  check(object->QueryInterface(riid, &found), name);
  return ComPtr<Interface>(static_cast<Interface*>(found));
}

}  // namespace

ApoHost::ApoHost(const Path& library) {
  if (const DWORD error = library_.open(library); error != 0)
    throw ProcessError(ExitCode::missingLibrary,
                       "cannot load the effect library " + library.toUtf8() + ": " +
                           systemErrorText(error) +
                           "; build the VorlundApo target or name the library with --library");
  auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(library_.symbol("DllGetClassObject"));
  if (getClassObject == nullptr)
    throw ProcessError(ExitCode::missingLibrary,
                       library.toUtf8() + " does not export DllGetClassObject");
  void* object = nullptr;
  check(getClassObject(CLSID_VorlundApo, IID_IClassFactory, &object), "DllGetClassObject");
  const ComPtr<IClassFactory> factory(static_cast<IClassFactory*>(object));
  check(factory->CreateInstance(nullptr, IID_IAudioProcessingObject, &object), "CreateInstance");
  apo_ = ComPtr<IAudioProcessingObject>(static_cast<IAudioProcessingObject*>(object));
  rt_ = query<IAudioProcessingObjectRT>(apo_.get(), IID_IAudioProcessingObjectRT, "QueryInterface");
  config_ = query<IAudioProcessingObjectConfiguration>(
      apo_.get(), IID_IAudioProcessingObjectConfiguration, "QueryInterface");
  check(apo_->Initialize(0, nullptr), "Initialize");
}

ApoHost::~ApoHost() {
  if (locked_) config_->UnlockForProcess();
}

void ApoHost::lock(UINT32 channels, float sampleRate, UINT32 maxFrames) {
  format_ = std::make_unique<CountedMediaType>(floatFormat(channels, sampleRate));
  // S_OK is a yes; anything else a no. What comes back is released either way.
  ComPtr<IAudioMediaType> offer;
  const bool inputOk = apo_->IsInputFormatSupported(nullptr, format_.get(), offer.put()) == S_OK;
  const bool outputOk =
      inputOk && apo_->IsOutputFormatSupported(format_.get(), format_.get(), offer.put()) == S_OK;
  if (!inputOk || !outputOk)
    throw ProcessError(ExitCode::refusedFormat, "the effect refuses " + std::to_string(channels) +
                                                    " channel(s) at " +
                                                    std::to_string(static_cast<long>(sampleRate)) +
                                                    " Hz; it accepts " + kAcceptedFormats);
  channels_ = channels;
  input_.pFormat = format_.get();
  input_.u32MaxFrameCount = maxFrames;
  output_ = input_;
  APO_CONNECTION_DESCRIPTOR* ins[] = {&input_};
  APO_CONNECTION_DESCRIPTOR* outs[] = {&output_};
  check(config_->LockForProcess(1, ins, 1, outs), "LockForProcess");
  locked_ = true;
}

void ApoHost::process(float* samples, UINT32 frames) {
  APO_CONNECTION_PROPERTY in{reinterpret_cast<UINT_PTR>(samples), frames, BUFFER_VALID, 0};
  APO_CONNECTION_PROPERTY out{reinterpret_cast<UINT_PTR>(samples), 0, BUFFER_INVALID, 0};
  APO_CONNECTION_PROPERTY* ins[] = {&in};
  APO_CONNECTION_PROPERTY* outs[] = {&out};
  rt_->APOProcess(1, ins, 1, outs);
  // A silent output need not have been written.
  if (out.u32BufferFlags == BUFFER_SILENT)
    std::fill(samples, samples + std::size_t{frames} * channels_, 0.0f);
  if (out.u32ValidFrameCount != frames)
    throw ProcessError(ExitCode::apoFailure,
                       "the effect returned " + std::to_string(out.u32ValidFrameCount) +
                           " frames for a block of " + std::to_string(frames));
}

HNSTIME ApoHost::latency() {
  HNSTIME time = 0;
  check(apo_->GetLatency(&time), "GetLatency");
  return time;
}

void ApoHost::unlock() {
  if (!locked_) return;
  locked_ = false;
  check(config_->UnlockForProcess(), "UnlockForProcess");
}

}  // namespace vorlund
