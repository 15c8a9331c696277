// Creates MicApo objects through the class factory, as the audio engine does, and keeps the
// module counters honest: every test ends with as many objects alive as it started with.
#pragma once

#include <gtest/gtest.h>

#include "apo/class_factory.h"
#include "apo/mic_apo.h"
#include "apo/registration.h"
#include "com_test_objects.h"
#include "platform/com/com_ptr.h"
#include "temp_data_folder.h"

namespace vorlund::test {

inline IClassFactory* classFactory() {
  void* factory = nullptr;
  EXPECT_EQ(S_OK, getClassObject(CLSID_VorlundApo, IID_IClassFactory, &factory));
  return static_cast<IClassFactory*>(factory);
}

// A new object asked for `riid`, or null.
template <typename Interface>
Interface* createApo(REFIID riid, IUnknown* outer = nullptr) {
  void* object = nullptr;
  EXPECT_EQ(S_OK, classFactory()->CreateInstance(outer, riid, &object));
  return static_cast<Interface*>(object);
}

template <typename Interface>
Interface* queryApo(IUnknown* object, REFIID riid) {
  void* found = nullptr;
  EXPECT_EQ(S_OK, object->QueryInterface(riid, &found));
  return static_cast<Interface*>(found);
}

// The same, owned: released when the test's scope ends, an ASSERT's early return included.
template <typename Interface>
ComPtr<Interface> ownApo(REFIID riid) {
  return ComPtr<Interface>(createApo<Interface>(riid));
}
template <typename Interface>
ComPtr<Interface> ownQuery(IUnknown* object, REFIID riid) {
  return ComPtr<Interface>(queryApo<Interface>(object, riid));
}

class ApoTest : public ::testing::Test {
 protected:
  void SetUp() override { objectsBefore_ = objectCount.load(); }
  void TearDown() override { EXPECT_EQ(objectsBefore_, objectCount.load()); }

  TempDataFolder temp_;
  int objectsBefore_ = 0;
};

}  // namespace vorlund::test
