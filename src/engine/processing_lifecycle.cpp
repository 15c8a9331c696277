#include "engine/processing_lifecycle.h"

#include <algorithm>

#include "channel/diagnostic_log.h"
#include "engine/stream_format.h"
#include "platform/performance_counter.h"

namespace vorlund {

ProcessingLifecycle::~ProcessingLifecycle() {
  if (frame.locked) {
    frame.locked = false;
    endStream();
  }
  frame.channel.close();
}

HRESULT ProcessingLifecycle::lockForProcess(UINT32 numInputConnections,
                                            APO_CONNECTION_DESCRIPTOR** inputConnections,
                                            UINT32 numOutputConnections,
                                            APO_CONNECTION_DESCRIPTOR** outputConnections) {
  if (frame.locked) return APOERR_APO_LOCKED;
  if (numInputConnections != 1 || numOutputConnections != numInputConnections ||
      inputConnections == nullptr || outputConnections == nullptr ||
      inputConnections[0] == nullptr || outputConnections[0] == nullptr ||
      inputConnections[0]->pFormat == nullptr)
    return E_INVALIDARG;
  const APO_CONNECTION_DESCRIPTOR& input = *inputConnections[0];
  const APO_CONNECTION_DESCRIPTOR& output = *outputConnections[0];

  UNCOMPRESSEDAUDIOFORMAT format{};
  const HRESULT hr = input.pFormat->GetUncompressedAudioFormat(&format);
  if (FAILED(hr)) return hr;
  // The rate sizes every rate-dependent buffer and integer conversion of the chain, so a
  // NaN or absurd rate is refused here, not left to undefined behaviour there.
  if (!isFloat32(format) || format.dwSamplesPerFrame < 1 ||
      !isSupportedFrameRate(format.fFramesPerSecond))
    return APOERR_FORMAT_NOT_SUPPORTED;

  frame.inputChannelCount = format.dwSamplesPerFrame;
  frame.sampleRate = format.fFramesPerSecond;
  frame.maxFrameCount = std::max(input.u32MaxFrameCount, output.u32MaxFrameCount);
  SharedBlock* block = nullptr;
  try {
    frame.sizeBuffers(frame.maxFrameCount, output.u32MaxFrameCount);
    frame.chain.prepare(static_cast<double>(frame.sampleRate));
    frame.channel.open();
    block = frame.channel.activeBlock();
    // Read whatever the counter says: a record written while unlocked is taken now.
    if (block != nullptr && !frame.applyRecord(*block))
      frame.lastAppliedCounter = BlockFrame::kNoRecordApplied;
    // prepare() set the mute ramp from the record before this one: start from the new
    // record's mute, so a stream locked muted is silent from its first sample.
    frame.chain.reset();
  } catch (...) {
    return E_OUTOFMEMORY;
  }

  // A relearn request made while no stream was locked is absorbed, not acted on.
  frame.lastRelearnCounter = block != nullptr ? loadRelearnCounter(*block) : 0;
  if (block != nullptr) {
    publishStreamStart(*block, frame.sampleRate, frame.inputChannelCount,
                       frame.chain.latencySamples());
  }
  frame.counterFrequency = performanceFrequency();
  frame.resetStatistics();
  frame.locked = true;

  const ParameterBlock& params = frame.chain.params;
  logLine("LockForProcess: %.0f Hz, %u ch, max %u frames, shared=%d, bypass=%d, ns=%d",
          static_cast<double>(frame.sampleRate), frame.inputChannelCount, frame.maxFrameCount,
          frame.channel.isShared() ? 1 : 0, params.bypass != 0 ? 1 : 0,
          params.nsEnabled != 0 ? 1 : 0);
  return S_OK;
}

HRESULT ProcessingLifecycle::unlockForProcess() {
  if (!frame.locked) return APOERR_ALREADY_UNLOCKED;
  frame.locked = false;
  endStream();
  return S_OK;
}

// The statistics line, then one active stream fewer in the shared block.
void ProcessingLifecycle::endStream() {
  const double peakIn = amplitudeToDb(frame.peakInput);
  const double peakOut = amplitudeToDb(frame.peakOutput);
  const auto blocks = static_cast<long long>(frame.blockCount);
  // The count of recoveries from a poisoned filter state only when there were any, so the
  // line of a sound stream keeps its usual form.
  if (const std::uint32_t recoveries = frame.chain.recoveryCount(); recoveries != 0) {
    logLine("UnlockForProcess: %lld blocks, peak in %.1f dB, out %.1f dB, recovered %u", blocks,
            peakIn, peakOut, recoveries);
  } else {
    logLine("UnlockForProcess: %lld blocks, peak in %.1f dB, out %.1f dB", blocks, peakIn, peakOut);
  }
  if (SharedBlock* block = frame.channel.activeBlock()) publishStreamEnd(*block);
}

}  // namespace vorlund
