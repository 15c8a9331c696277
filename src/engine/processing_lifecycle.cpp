// Layer: engine
#include "engine/processing_lifecycle.h"

#include <algorithm>

#include "chain/gain.h"
#include "channel/diagnostic_log.h"
#include "engine/stream_format.h"

namespace vorlund {

ProcessingLifecycle::~ProcessingLifecycle() {
  if (frame_.isLocked()) {
    frame_.stop();
    endStream();
  }
  frame_.channel().close();
}

HRESULT ProcessingLifecycle::lockForProcess(UINT32 numInputConnections,
                                            APO_CONNECTION_DESCRIPTOR** inputConnections,
                                            UINT32 numOutputConnections,
                                            APO_CONNECTION_DESCRIPTOR** outputConnections) {
  if (frame_.isLocked()) return APOERR_APO_LOCKED;
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

  FrameFormat frameFormat;
  frameFormat.sampleRate = format.fFramesPerSecond;
  frameFormat.channels = format.dwSamplesPerFrame;
  frameFormat.maxFrames = std::max(input.u32MaxFrameCount, output.u32MaxFrameCount);
  frameFormat.maxOutputFrames = output.u32MaxFrameCount;
  try {
    // Open first, so that the frame starts with the channel's record.
    frame_.channel().open();
    frame_.start(frameFormat);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (SharedBlock* block = frame_.channel().activeBlock()) {
    publishStreamStart(*block, frameFormat.sampleRate, frameFormat.channels,
                       frame_.latencySamples());
  }

  const ParameterBlock& params = frame_.chain().record();
  logLine("LockForProcess: %.0f Hz, %u ch, max %u frames, shared=%d, bypass=%d, ns=%d",
          static_cast<double>(frameFormat.sampleRate), frameFormat.channels, frameFormat.maxFrames,
          frame_.channel().isShared() ? 1 : 0, params.bypass != 0 ? 1 : 0,
          params.nsEnabled != 0 ? 1 : 0);
  return S_OK;
}

HRESULT ProcessingLifecycle::unlockForProcess() {
  if (!frame_.isLocked()) return APOERR_ALREADY_UNLOCKED;
  frame_.stop();
  endStream();
  return S_OK;
}

// The statistics line, then one active stream fewer in the shared block.
void ProcessingLifecycle::endStream() {
  const FrameStatistics& statistics = frame_.statistics();
  const double peakIn = amplitudeToDb(statistics.peakInput);
  const double peakOut = amplitudeToDb(statistics.peakOutput);
  const auto blocks = static_cast<long long>(statistics.blockCount);
  // The count of recoveries from a poisoned filter state only when there were any, so the
  // line of a sound stream keeps its usual form.
  if (const std::uint32_t recoveries = frame_.chain().recoveryCount(); recoveries != 0) {
    logLine("UnlockForProcess: %lld blocks, peak in %.1f dB, out %.1f dB, recovered %u", blocks,
            peakIn, peakOut, recoveries);
  } else {
    logLine("UnlockForProcess: %lld blocks, peak in %.1f dB, out %.1f dB", blocks, peakIn, peakOut);
  }
  if (SharedBlock* block = frame_.channel().activeBlock()) publishStreamEnd(*block);
}

}  // namespace vorlund
