// Layer: apo
#include "apo/class_factory.h"

#include "apo/mic_apo.h"
#include "apo/registration.h"

namespace vorlund {
namespace {

// Neither count means anything for a static object; these are the customary answers.
constexpr ULONG kStaticAddRefCount = 2;
constexpr ULONG kStaticReleaseCount = 1;

constinit Factory factory;

}  // namespace

HRESULT Factory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG Factory::AddRef() {
  return kStaticAddRefCount;
}

ULONG Factory::Release() {
  return kStaticReleaseCount;
}

HRESULT Factory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  MicApo* object = MicApo::create(pUnkOuter);
  if (object == nullptr) return E_OUTOFMEMORY;
  objectCount.fetch_add(1);
  MicApo::Inner* inner = object->inner();
  const HRESULT hr = inner->QueryInterface(riid, ppv);
  inner->Release();
  return hr;
}

HRESULT Factory::LockServer(BOOL fLock) {
  if (fLock) {
    lockCount.fetch_add(1);
  } else {
    lockCount.fetch_sub(1);
  }
  return S_OK;
}

HRESULT getClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_VorlundApo) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

HRESULT canUnloadNow() noexcept {
  return objectCount.load() != 0 || lockCount.load() != 0 ? S_FALSE : S_OK;
}

}  // namespace vorlund
