// The effect as the audio engine meets it, for vorlund-process: the library loaded from its
// file, the object made through DllGetClassObject, one float stream negotiated and locked,
// and blocks processed in place. Everything else in the library stays out of reach.
#pragma once

#include <memory>

#include "common/counted_media_type.h"
#include "platform/com/apo_interfaces.h"
#include "platform/com/com_ptr.h"
#include "platform/path.h"
#include "platform/shared_library.h"

namespace vorlund {

class ApoHost {
 public:
  // What the effect takes, for the message when it refuses a file.
  static constexpr const char* kAcceptedFormats =
      "32-bit float samples, 1 to 64 channels, 8000 to 384000 Hz";

  // Loads the library and creates and initialises the object; throws
  // ProcessError(missingLibrary or apoFailure).
  explicit ApoHost(const Path& library);
  // Unlocks when still locked and releases everything before the library goes.
  ~ApoHost();
  ApoHost(const ApoHost&) = delete;
  ApoHost& operator=(const ApoHost&) = delete;

  // Asks for the format both ways and locks one input and one output connection of it.
  // Throws ProcessError(refusedFormat) naming what the effect accepts.
  void lock(UINT32 channels, float sampleRate, UINT32 maxFrames);
  // One block of interleaved samples, in place.
  void process(float* samples, UINT32 frames);
  // GetLatency while locked, in 100 ns units.
  HNSTIME latency();
  void unlock();

 private:
  // Declared in the order they must outlive each other: the library's code and the format
  // the object may still hold go after the object's references.
  SharedLibrary library_;
  std::unique_ptr<CountedMediaType> format_;
  ComPtr<IAudioProcessingObject> apo_;
  ComPtr<IAudioProcessingObjectRT> rt_;
  ComPtr<IAudioProcessingObjectConfiguration> config_;
  APO_CONNECTION_DESCRIPTOR input_{};
  APO_CONNECTION_DESCRIPTOR output_{};
  UINT32 channels_ = 0;
  bool locked_ = false;
};

}  // namespace vorlund
