// Layer: apo
// The library's four entry points, by name and with C linkage, as COM and regsvr32 find
// them. On Windows the .def file exports them; on Linux they alone keep default visibility.
#include "apo/class_factory.h"
#include "apo/registration.h"
#include "platform/library_export.h"

extern "C" {

VORLUND_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return vorlund::getClassObject(rclsid, riid, ppv);
}

VORLUND_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return vorlund::canUnloadNow();
}

VORLUND_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  return vorlund::registerServer();
}

VORLUND_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return vorlund::unregisterServer();
}

}  // extern "C"
