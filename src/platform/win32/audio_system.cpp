// Layer: platform
#include "platform/audio_system.h"

// windows.h first: the others build on it.
#include <windows.h>

#include <mmdeviceapi.h>
#include <objbase.h>
#include <propidl.h>
#include <propsys.h>

namespace vorlund {
namespace {

// Spelt out here so no import library has to supply them.
constexpr CLSID kMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
constexpr IID kIMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
// PKEY_Device_FriendlyName: {a45c254e-df1c-4efd-8020-67d146a850e0}, 14.
constexpr PROPERTYKEY kFriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
constexpr DWORD kStopWaitMs = 30000;

DWORD fromHresult(HRESULT hr) {
  return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
}

std::u16string copyText(const wchar_t* text) {
  return text == nullptr ? std::u16string()
                         : std::u16string(reinterpret_cast<const char16_t*>(text));
}

// COM for this thread for the scope, in whatever apartment the thread already has.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

template <typename T>
struct Released {
  T* p = nullptr;
  ~Released() {
    if (p != nullptr) p->Release();
  }
};

HRESULT createEnumerator(Released<IMMDeviceEnumerator>& enumerator) {
  return CoCreateInstance(kMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIMMDeviceEnumerator,
                          reinterpret_cast<void**>(&enumerator.p));
}

void describe(IMMDevice* device, CaptureEndpoint& endpoint) {
  LPWSTR id = nullptr;
  if (SUCCEEDED(device->GetId(&id))) {
    endpoint.id = copyText(id);
    CoTaskMemFree(id);
  }
  device->GetState(&endpoint.state);
  Released<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store.p))) return;
  PROPVARIANT value;
  PropVariantInit(&value);
  if (SUCCEEDED(store.p->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR)
    endpoint.friendlyName = copyText(value.pwszVal);
  PropVariantClear(&value);
}

}  // namespace

DWORD listCaptureEndpoints(std::vector<CaptureEndpoint>& endpoints) {
  ComScope com;
  Released<IMMDeviceEnumerator> enumerator;
  HRESULT hr = createEnumerator(enumerator);
  if (FAILED(hr)) return fromHresult(hr);
  Released<IMMDeviceCollection> collection;
  hr = enumerator.p->EnumAudioEndpoints(eCapture, DEVICE_STATEMASK_ALL, &collection.p);
  if (FAILED(hr)) return fromHresult(hr);
  UINT count = 0;
  collection.p->GetCount(&count);
  std::vector<CaptureEndpoint> found;
  for (UINT i = 0; i < count; ++i) {
    Released<IMMDevice> device;
    if (FAILED(collection.p->Item(i, &device.p))) continue;
    CaptureEndpoint endpoint;
    describe(device.p, endpoint);
    if (!endpoint.id.empty()) found.push_back(std::move(endpoint));
  }
  endpoints = std::move(found);
  return ERROR_SUCCESS;
}

DWORD defaultCaptureEndpoint(std::u16string& id) {
  ComScope com;
  Released<IMMDeviceEnumerator> enumerator;
  HRESULT hr = createEnumerator(enumerator);
  if (FAILED(hr)) return fromHresult(hr);
  Released<IMMDevice> device;
  hr = enumerator.p->GetDefaultAudioEndpoint(eCapture, eConsole, &device.p);
  if (FAILED(hr)) return fromHresult(hr);
  CaptureEndpoint endpoint;
  describe(device.p, endpoint);
  if (endpoint.id.empty()) return ERROR_NOT_FOUND;
  id = endpoint.id;
  return ERROR_SUCCESS;
}

DWORD restartAudioService() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return GetLastError();
  SC_HANDLE service =
      OpenServiceW(manager, L"Audiosrv", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
  DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
  if (error == ERROR_SUCCESS) {
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
      error = GetLastError();
    for (DWORD waited = 0; error == ERROR_SUCCESS && waited < kStopWaitMs; waited += 250) {
      if (!QueryServiceStatus(service, &status)) error = GetLastError();
      if (error != ERROR_SUCCESS || status.dwCurrentState == SERVICE_STOPPED) break;
      Sleep(250);
    }
    if (error == ERROR_SUCCESS && status.dwCurrentState != SERVICE_STOPPED)
      error = ERROR_SERVICE_REQUEST_TIMEOUT;
    if (error == ERROR_SUCCESS && !StartServiceW(service, 0, nullptr)) error = GetLastError();
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return error;
}

bool processIsElevated() noexcept {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

}  // namespace vorlund
