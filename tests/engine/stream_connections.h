// The audio engine's side of LockForProcess for tests that lock the lifecycle directly rather
// than through the COM object. Free of GoogleTest, so the fuzz targets use it too.
#pragma once

#include "com_test_objects.h"
#include "engine/processing_lifecycle.h"

namespace vorlund::test {

struct StreamConnections : HostStream {
  using HostStream::HostStream;
  using HostStream::lock;

  HRESULT lock(ProcessingLifecycle& lifecycle) {
    APO_CONNECTION_DESCRIPTOR* ins[] = {&input};
    APO_CONNECTION_DESCRIPTOR* outs[] = {&output};
    return lifecycle.lockForProcess(1, ins, 1, outs);
  }
};

}  // namespace vorlund::test
