// Layer: apo
#include "apo/registration.h"

#include <array>
#include <iterator>

#include "apo/version_info.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace vorlund {
namespace {

constexpr std::size_t kRecordTextLength = 256;

// The record's texts are WCHAR, which is wchar_t on Windows and char16_t elsewhere; both are
// UTF-16 code units.
constexpr void copyText(WCHAR (&destination)[kRecordTextLength], const char16_t* text) {
  std::size_t i = 0;
  for (; text[i] != 0 && i + 1 < kRecordTextLength; ++i)
    destination[i] = static_cast<WCHAR>(text[i]);
  for (; i < kRecordTextLength; ++i) destination[i] = 0;
}

constexpr APO_REG_PROPERTIES makeRegistrationProperties() {
  APO_REG_PROPERTIES record{};
  record.clsid = CLSID_VorlundApo;
  record.Flags = static_cast<APO_FLAG>(APO_FLAG_INPLACE | APO_FLAG_SAMPLESPERFRAME_MUST_MATCH |
                                       APO_FLAG_FRAMESPERSECOND_MUST_MATCH |
                                       APO_FLAG_BITSPERSAMPLE_MUST_MATCH);
  copyText(record.szFriendlyName, u"" VORLUND_PRODUCT_NAME);
  copyText(record.szCopyrightInfo, u"" VORLUND_NOTICE);
  record.u32MajorVersion = VORLUND_VERSION_MAJOR;
  record.u32MinorVersion = VORLUND_VERSION_MINOR;
  record.u32MinInputConnections = 1;
  record.u32MaxInputConnections = 1;
  record.u32MinOutputConnections = 1;
  record.u32MaxOutputConnections = 1;
  record.u32MaxInstances = 0xFFFFFFFFu;
  record.u32NumAPOInterfaces = 1;
  record.iidAPOInterfaceList[0] = IID_IAudioSystemEffects;
  return record;
}

static_assert(sizeof(VORLUND_NOTICE) <= kRecordTextLength);

// IID_IAudioSystemEffects as the audio engine's key spells it.
constexpr char16_t kSystemEffectsInterfaceText[] = u"{5FA00F27-ADD6-499a-8A9D-6B98521FA75B}";
// The class key's default value: the friendly name and this.
constexpr char16_t kClassNameSuffix[] = u" APO";

// A record text as char16_t, with room for a suffix.
using NameBuffer = std::array<char16_t, kRecordTextLength + std::size(kClassNameSuffix)>;

NameBuffer recordText(const WCHAR (&text)[kRecordTextLength], const char16_t* suffix = u"") {
  NameBuffer out{};
  std::size_t n = 0;
  for (; n + 1 < kRecordTextLength && text[n] != 0; ++n) out[n] = static_cast<char16_t>(text[n]);
  for (std::size_t i = 0; suffix[i] != 0; ++i) out[n++] = suffix[i];
  return out;
}

}  // namespace

constinit const APO_REG_PROPERTIES kRegistrationProperties = makeRegistrationProperties();

HRESULT modulePathResult(std::uint32_t length, std::uint32_t capacity, DWORD error) noexcept {
  if (length == 0) return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  if (length >= capacity) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  return S_OK;
}

HRESULT registerServer() noexcept {
  std::array<char16_t, kModulePathCapacity> path{};
  DWORD error = ERROR_SUCCESS;
  const std::uint32_t length = moduleFileName(path.data(), kModulePathCapacity, error);
  const HRESULT hr = modulePathResult(length, kModulePathCapacity, error);
  if (FAILED(hr)) return hr;
  return writeRegistration(path.data());
}

// Every step either succeeds or ends registration with its error: a registration that
// reports S_OK is complete.
HRESULT writeRegistration(const char16_t* modulePath) noexcept {
  const APO_REG_PROPERTIES& record = kRegistrationProperties;
  const NameBuffer className = recordText(record.szFriendlyName, kClassNameSuffix);
  const NameBuffer friendlyName = recordText(record.szFriendlyName);
  const NameBuffer copyright = recordText(record.szCopyrightInfo);

  RegistryKey key;
  DWORD error = key.create(kClassKey);
  if (error == ERROR_SUCCESS) error = key.setString(nullptr, className.data());
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  key.close();

  error = key.create(kInprocServerKey);
  if (error == ERROR_SUCCESS) error = key.setString(nullptr, modulePath);
  if (error == ERROR_SUCCESS) error = key.setString(u"ThreadingModel", u"Both");
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  key.close();

  error = key.create(kAudioProcessingObjectKey);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  struct Number {
    const char16_t* name;
    DWORD value;
  };
  const Number numbers[] = {
      {u"MajorVersion", record.u32MajorVersion},
      {u"MinorVersion", record.u32MinorVersion},
      {u"Flags", static_cast<DWORD>(record.Flags)},
      {u"MinInputConnections", record.u32MinInputConnections},
      {u"MaxInputConnections", record.u32MaxInputConnections},
      {u"MinOutputConnections", record.u32MinOutputConnections},
      {u"MaxOutputConnections", record.u32MaxOutputConnections},
      {u"MaxInstances", record.u32MaxInstances},
      {u"NumAPOInterfaces", record.u32NumAPOInterfaces},
  };
  error = key.setString(u"FriendlyName", friendlyName.data());
  if (error == ERROR_SUCCESS) error = key.setString(u"Copyright", copyright.data());
  for (const Number& number : numbers)
    if (error == ERROR_SUCCESS) error = key.setDword(number.name, number.value);
  if (error == ERROR_SUCCESS) error = key.setString(u"APOInterface0", kSystemEffectsInterfaceText);
  return HRESULT_FROM_WIN32(error);
}

HRESULT unregisterServer() noexcept {
  deleteRegistryTree(kAudioProcessingObjectKey);
  deleteRegistryTree(kClassKey);
  return S_OK;
}

}  // namespace vorlund
