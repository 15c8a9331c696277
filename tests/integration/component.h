// The component as a host meets it: the library file loaded by path, its four entry points
// found by name, objects reached through the COM interfaces they hand out, and the control
// application's view of shared.bin. Shared by the tests that drive the built library.
#pragma once

#include <gtest/gtest.h>

#include "channel/parameter_channel.h"
#include "engine/shared_block.h"
#include "platform/com/apo_interfaces.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/path.h"
#include "platform/shared_library.h"

namespace vorlund::test {

constexpr CLSID kClsid = {
    0x6A3D2F10, 0x4C8E, 0x4B7A, {0x9E, 0x21, 0x5F, 0x0C, 0x8B, 0x7D, 0x3A, 0x64}};

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using NoArgumentFunction = HRESULT(STDAPICALLTYPE*)();

// The library and its four entry points.
struct Component {
  explicit Component(const Path& path = Path::fromUtf8(VORLUND_APO_LIBRARY)) {
    EXPECT_EQ(0u, library.open(path)) << path.toUtf8();
    getClassObject = reinterpret_cast<GetClassObjectFunction>(library.symbol("DllGetClassObject"));
    canUnloadNow = reinterpret_cast<NoArgumentFunction>(library.symbol("DllCanUnloadNow"));
    registerServer = reinterpret_cast<NoArgumentFunction>(library.symbol("DllRegisterServer"));
    unregisterServer = reinterpret_cast<NoArgumentFunction>(library.symbol("DllUnregisterServer"));
  }
  bool complete() const {
    return getClassObject != nullptr && canUnloadNow != nullptr && registerServer != nullptr &&
           unregisterServer != nullptr;
  }
  IClassFactory* factory() {
    void* factory = nullptr;
    EXPECT_EQ(S_OK, getClassObject(kClsid, IID_IClassFactory, &factory));
    return static_cast<IClassFactory*>(factory);
  }

  SharedLibrary library;
  GetClassObjectFunction getClassObject = nullptr;
  NoArgumentFunction canUnloadNow = nullptr;
  NoArgumentFunction registerServer = nullptr;
  NoArgumentFunction unregisterServer = nullptr;
};

template <typename Interface>
Interface* query(IUnknown* object, REFIID riid) {
  void* found = nullptr;
  EXPECT_EQ(S_OK, object->QueryInterface(riid, &found));
  return static_cast<Interface*>(found);
}

// The control application's view of shared.bin.
struct ControlSide {
  ControlSide() {
    EXPECT_EQ(0u, file.open(sharedFilePath(), FileAccess::readWriteAlways));
    EXPECT_EQ(0u, mapping.create(file, ParameterChannel::kSharedFileBytes));
    EXPECT_EQ(0u, mapping.mapView(sizeof(SharedBlock)));
  }
  SharedBlock& block() { return *static_cast<SharedBlock*>(mapping.view()); }
  template <typename T>
  T read(T& word) {
    return sharedWord(word).load();
  }

  File file;
  FileMapping mapping;
};

}  // namespace vorlund::test
