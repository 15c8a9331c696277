// Layer: apo
// The in-process server's class factory and module state: one static Factory for the
// library's lifetime, without fields or reference count, that builds MicApo objects; the
// LockServer count; and the answers behind DllGetClassObject and DllCanUnloadNow.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/com/com_types.h"

namespace vorlund {

// Outstanding LockServer(TRUE) calls.
inline std::atomic<std::int32_t> lockCount{0};

class Factory final : public IClassFactory {
 public:
  // Any thread. The factory is static: AddRef answers 2 and Release 1, changing nothing.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // Any thread: a new MicApo queried for `riid`; a failed query destroys it again. An
  // aggregating caller must ask for IID_IUnknown.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;
};

// DllGetClassObject: the static factory, without a reference, for the effect's class.
HRESULT getClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept;
// DllCanUnloadNow: S_OK when no object is alive and no LockServer is outstanding.
HRESULT canUnloadNow() noexcept;

}  // namespace vorlund
