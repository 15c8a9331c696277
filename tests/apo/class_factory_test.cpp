#include "apo/class_factory.h"

#include <gtest/gtest.h>

#include "apo_fixture.h"

namespace vorlund {
namespace {

using test::ApoTest;

void* const kGarbage = reinterpret_cast<void*>(0x1234);

// Verifies DllGetClassObject: one static factory for IUnknown and IClassFactory, whose
// AddRef and Release change nothing; another class or interface is refused with the
// out-pointer cleared.
TEST(ClassFactoryTest, OneStaticFactoryForTheClass) {
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(S_OK, getClassObject(CLSID_VorlundApo, IID_IClassFactory, &first));
  ASSERT_EQ(S_OK, getClassObject(CLSID_VorlundApo, IID_IUnknown, &second));
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  auto* factory = static_cast<IClassFactory*>(first);
  EXPECT_EQ(1u, factory->Release());
  EXPECT_EQ(1u, factory->Release());
  EXPECT_EQ(2u, factory->AddRef());
  void* again = nullptr;
  EXPECT_EQ(S_OK, factory->QueryInterface(IID_IClassFactory, &again));
  EXPECT_EQ(first, again);

  void* out = kGarbage;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            getClassObject(IID_IAudioProcessingObject, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  out = kGarbage;
  EXPECT_EQ(E_NOINTERFACE, getClassObject(CLSID_VorlundApo, IID_IAudioProcessingObject, &out));
  EXPECT_EQ(nullptr, out);
  out = kGarbage;
  EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IAudioMediaType, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, getClassObject(CLSID_VorlundApo, IID_IClassFactory, nullptr));
  EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
}

// Verifies that a CreateInstance for an interface the object lacks returns E_NOINTERFACE
// and leaves no object alive, and that a null out-pointer is refused before anything is
// built.
TEST_F(ApoTest, FailedCreationLeavesNoObject) {
  const int before = objectCount.load();
  void* out = kGarbage;
  EXPECT_EQ(E_NOINTERFACE, test::classFactory()->CreateInstance(nullptr, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(before, objectCount.load());
  EXPECT_EQ(E_POINTER,
            test::classFactory()->CreateInstance(nullptr, IID_IAudioProcessingObject, nullptr));
  EXPECT_EQ(before, objectCount.load());
}

// Verifies DllCanUnloadNow: S_FALSE while an object lives or a LockServer(TRUE) is not yet
// matched, S_OK again once both are gone.
TEST_F(ApoTest, UnloadWaitsForObjectsAndServerLocks) {
  ASSERT_EQ(S_OK, canUnloadNow());
  IClassFactory* factory = test::classFactory();
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_FALSE, canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, canUnloadNow());

  auto* apo = test::createApo<IAudioProcessingObject>(IID_IAudioProcessingObject);
  EXPECT_EQ(S_FALSE, canUnloadNow());
  apo->Release();
  EXPECT_EQ(S_OK, canUnloadNow());
}

}  // namespace
}  // namespace vorlund
