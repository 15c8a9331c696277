// Layer: apo
// The COM object the audio engine drives: its identity (four interfaces sharing one
// delegating IUnknown, the non-delegating MicApo::Inner for aggregation, an interlocked
// reference count), the small methods of IAudioProcessingObject and
// IAudioProcessingObjectRT, and forwards to the parts that do the work: the processing
// lifecycle and its block frame, format negotiation and the effects list. The object does
// no signal processing of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/processing_lifecycle.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund {

// Live MicApo objects in this module: raised by the factory once an object is built,
// lowered when one has been destroyed. DllCanUnloadNow reads it.
inline std::atomic<std::int32_t> objectCount{0};

class MicApo final : public IAudioProcessingObject,
                     public IAudioProcessingObjectRT,
                     public IAudioProcessingObjectConfiguration,
                     public IAudioSystemEffects3 {
 public:
  // The non-delegating IUnknown: the object's own identity and reference count, which an
  // aggregating outer object holds.
  class Inner final : public IUnknown {
   public:
    explicit Inner(MicApo& owner) noexcept : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    // Destroys the object when the count reaches 0, then lowers objectCount.
    ULONG STDMETHODCALLTYPE Release() override;

   private:
    MicApo& owner_;
  };

  // Any thread: a new object with one reference held by its Inner, delegating to `outer`
  // when aggregated. Null without memory. The caller raises objectCount.
  static MicApo* create(IUnknown* outer) noexcept;
  Inner* inner() noexcept { return &inner_; }

  // Any thread: forwarded to the controlling unknown (Inner, or the outer object).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IAudioProcessingObject.
  // Any thread: the next block resets the chain's signal memory.
  HRESULT STDMETHODCALLTYPE Reset() override;
  // Configuration thread: the chain's latency while locked, else 0, in units of 100 ns.
  HRESULT STDMETHODCALLTYPE GetLatency(HNSTIME* pTime) override;
  // Configuration thread; allocates the copy with CoTaskMemAlloc.
  HRESULT STDMETHODCALLTYPE GetRegistrationProperties(APO_REG_PROPERTIES** ppRegProps) override;
  // Configuration thread: the initialisation block is accepted whatever it holds.
  HRESULT STDMETHODCALLTYPE Initialize(UINT32 cbDataSize, BYTE* pbyData) override;
  // Configuration thread; may allocate a suggestion and log a refusal.
  HRESULT STDMETHODCALLTYPE
  IsInputFormatSupported(IAudioMediaType* pOppositeFormat, IAudioMediaType* pRequestedInputFormat,
                         IAudioMediaType** ppSupportedInputFormat) override;
  HRESULT STDMETHODCALLTYPE
  IsOutputFormatSupported(IAudioMediaType* pOppositeFormat, IAudioMediaType* pRequestedOutputFormat,
                          IAudioMediaType** ppSupportedOutputFormat) override;
  // Configuration thread: the channel count last locked (1 before the first lock).
  HRESULT STDMETHODCALLTYPE GetInputChannelCount(UINT32* pu32ChannelCount) override;

  // IAudioProcessingObjectRT.
  // Real-time thread, locked; never allocates, waits or fails.
  void STDMETHODCALLTYPE APOProcess(UINT32 u32NumInputConnections,
                                    APO_CONNECTION_PROPERTY** ppInputConnections,
                                    UINT32 u32NumOutputConnections,
                                    APO_CONNECTION_PROPERTY** ppOutputConnections) override;
  // Any thread: in place, so frame counts pass unchanged.
  UINT32 STDMETHODCALLTYPE CalcInputFrames(UINT32 u32OutputFrameCount) override;
  UINT32 STDMETHODCALLTYPE CalcOutputFrames(UINT32 u32InputFrameCount) override;

  // IAudioProcessingObjectConfiguration: configuration thread; may allocate, block and log.
  HRESULT STDMETHODCALLTYPE LockForProcess(
      UINT32 u32NumInputConnections, APO_CONNECTION_DESCRIPTOR** ppInputConnections,
      UINT32 u32NumOutputConnections, APO_CONNECTION_DESCRIPTOR** ppOutputConnections) override;
  HRESULT STDMETHODCALLTYPE UnlockForProcess() override;

  // IAudioSystemEffects2/3: configuration thread. The list follows the chain's current
  // record; the event is neither kept nor signalled. No effect can be switched from outside.
  HRESULT STDMETHODCALLTYPE GetEffectsList(LPGUID* ppEffectsIds, UINT* pcEffects,
                                           HANDLE Event) override;
  HRESULT STDMETHODCALLTYPE GetControllableSystemEffectsList(AUDIO_SYSTEMEFFECT** effects,
                                                             UINT* numEffects,
                                                             HANDLE event) override;
  HRESULT STDMETHODCALLTYPE SetAudioSystemEffectState(GUID effectId,
                                                      AUDIO_SYSTEMEFFECT_STATE state) override;

 private:
  explicit MicApo(IUnknown* outer) noexcept;
  ~MicApo() = default;

  std::atomic<LONG> referenceCount_{1};
  Inner inner_;
  IUnknown* controllingUnknown_;  // not counted: the outer object, or inner_
  ProcessingLifecycle lifecycle_;
};

}  // namespace vorlund
