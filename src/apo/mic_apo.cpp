// Layer: apo
#include "apo/mic_apo.h"

#include <cstring>
#include <new>

#include "apo/effects_list.h"
#include "apo/format_negotiation.h"
#include "apo/registration.h"
#include "platform/error_codes.h"

namespace vorlund {
namespace {

// GetLatency's unit: 100 ns.
constexpr double kHundredNanosecondsPerSecond = 10'000'000.0;

}  // namespace

MicApo* MicApo::create(IUnknown* outer) noexcept {
  return new (std::nothrow) MicApo(outer);
}

MicApo::MicApo(IUnknown* outer) noexcept
    : inner_(*this), controllingUnknown_(outer != nullptr ? outer : &inner_) {}

HRESULT MicApo::Inner::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  IUnknown* found = nullptr;
  if (riid == IID_IAudioProcessingObject) {
    found = static_cast<IAudioProcessingObject*>(&owner_);
  } else if (riid == IID_IAudioProcessingObjectRT) {
    found = static_cast<IAudioProcessingObjectRT*>(&owner_);
  } else if (riid == IID_IAudioProcessingObjectConfiguration) {
    found = static_cast<IAudioProcessingObjectConfiguration*>(&owner_);
  } else if (riid == IID_IAudioSystemEffects || riid == IID_IAudioSystemEffects2 ||
             riid == IID_IAudioSystemEffects3) {
    found = static_cast<IAudioSystemEffects3*>(&owner_);
  }
  *ppv = found;
  if (found == nullptr) return E_NOINTERFACE;
  // Through the interface, so an aggregated object counts on its outer object.
  found->AddRef();
  return S_OK;
}

ULONG MicApo::Inner::AddRef() {
  return static_cast<ULONG>(owner_.referenceCount_.fetch_add(1) + 1);
}

// The module count drops only once the object is gone: until then its code still runs (the
// watcher thread is stopped inside the destruction), so the library must stay loaded.
ULONG MicApo::Inner::Release() {
  const LONG count = owner_.referenceCount_.fetch_sub(1) - 1;
  if (count == 0) {
    delete &owner_;
    objectCount.fetch_sub(1);
  }
  return static_cast<ULONG>(count);
}

HRESULT MicApo::QueryInterface(REFIID riid, void** ppv) {
  return controllingUnknown_->QueryInterface(riid, ppv);
}

ULONG MicApo::AddRef() {
  return controllingUnknown_->AddRef();
}

ULONG MicApo::Release() {
  return controllingUnknown_->Release();
}

HRESULT MicApo::Reset() {
  lifecycle_.requestReset();
  return S_OK;
}

HRESULT MicApo::GetLatency(HNSTIME* pTime) {
  if (pTime == nullptr) return E_POINTER;
  const BlockFrame& frame = lifecycle_.frame();
  *pTime = 0;
  const float rate = frame.format().sampleRate;
  if (frame.isLocked() && rate > 0.0f) {
    const std::int32_t samples = frame.latencySamples();
    *pTime = static_cast<HNSTIME>(static_cast<double>(samples) * kHundredNanosecondsPerSecond /
                                  static_cast<double>(rate));
  }
  return S_OK;
}

HRESULT MicApo::GetRegistrationProperties(APO_REG_PROPERTIES** ppRegProps) {
  if (ppRegProps == nullptr) return E_POINTER;
  *ppRegProps = nullptr;
  auto* copy = static_cast<APO_REG_PROPERTIES*>(CoTaskMemAlloc(sizeof(APO_REG_PROPERTIES)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, &kRegistrationProperties, sizeof(APO_REG_PROPERTIES));
  *ppRegProps = copy;
  return S_OK;
}

// Nothing in the initialisation block (APOInitSystemEffects2/3, discovery-only included)
// changes what the effect does.
HRESULT MicApo::Initialize(UINT32 cbDataSize, BYTE* pbyData) {
  if (cbDataSize != 0 && pbyData == nullptr) return E_POINTER;
  return S_OK;
}

HRESULT MicApo::IsInputFormatSupported(IAudioMediaType* pOppositeFormat,
                                       IAudioMediaType* pRequestedInputFormat,
                                       IAudioMediaType** ppSupportedInputFormat) {
  return negotiateFormat("IsInputFormatSupported", pOppositeFormat, pRequestedInputFormat,
                         ppSupportedInputFormat);
}

HRESULT MicApo::IsOutputFormatSupported(IAudioMediaType* pOppositeFormat,
                                        IAudioMediaType* pRequestedOutputFormat,
                                        IAudioMediaType** ppSupportedOutputFormat) {
  return negotiateFormat("IsOutputFormatSupported", pOppositeFormat, pRequestedOutputFormat,
                         ppSupportedOutputFormat);
}

HRESULT MicApo::GetInputChannelCount(UINT32* pu32ChannelCount) {
  if (pu32ChannelCount == nullptr) return E_POINTER;
  *pu32ChannelCount = lifecycle_.frame().format().channels;
  return S_OK;
}

void MicApo::APOProcess(UINT32 u32NumInputConnections, APO_CONNECTION_PROPERTY** ppInputConnections,
                        UINT32 u32NumOutputConnections,
                        APO_CONNECTION_PROPERTY** ppOutputConnections) {
  lifecycle_.process(u32NumInputConnections, ppInputConnections, u32NumOutputConnections,
                     ppOutputConnections);
}

UINT32 MicApo::CalcInputFrames(UINT32 u32OutputFrameCount) {
  return u32OutputFrameCount;
}

UINT32 MicApo::CalcOutputFrames(UINT32 u32InputFrameCount) {
  return u32InputFrameCount;
}

HRESULT MicApo::LockForProcess(UINT32 u32NumInputConnections,
                               APO_CONNECTION_DESCRIPTOR** ppInputConnections,
                               UINT32 u32NumOutputConnections,
                               APO_CONNECTION_DESCRIPTOR** ppOutputConnections) {
  return lifecycle_.lockForProcess(u32NumInputConnections, ppInputConnections,
                                   u32NumOutputConnections, ppOutputConnections);
}

HRESULT MicApo::UnlockForProcess() {
  return lifecycle_.unlockForProcess();
}

HRESULT MicApo::GetEffectsList(LPGUID* ppEffectsIds, UINT* pcEffects, HANDLE) {
  // The record itself belongs to the real-time thread; its switches are published apart.
  return getEffectsList(lifecycle_.frame().switchesInForce(), ppEffectsIds, pcEffects);
}

HRESULT MicApo::GetControllableSystemEffectsList(AUDIO_SYSTEMEFFECT** effects, UINT* numEffects,
                                                 HANDLE) {
  return getControllableSystemEffectsList(effects, numEffects);
}

HRESULT MicApo::SetAudioSystemEffectState(GUID, AUDIO_SYSTEMEFFECT_STATE) {
  return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

}  // namespace vorlund
