// Layer: apo
// The component's identity in COM and in the audio engine: its class identifier, the static
// registration record that GetRegistrationProperties hands out, and the registry keys that
// DllRegisterServer writes and DllUnregisterServer deletes under HKEY_LOCAL_MACHINE.
// Registration never attaches the effect to an audio endpoint.
#pragma once

#include <cstdint>

#include "platform/com/apo_interfaces.h"

// The class identifier as text, spliced into the key paths below.
#define VORLUND_CLSID_TEXT "{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}"

namespace vorlund {

inline constexpr CLSID CLSID_VorlundApo = {
    0x6A3D2F10, 0x4C8E, 0x4B7A, {0x9E, 0x21, 0x5F, 0x0C, 0x8B, 0x7D, 0x3A, 0x64}};

inline constexpr char16_t kClassKey[] = u"SOFTWARE\\Classes\\CLSID\\" VORLUND_CLSID_TEXT;
inline constexpr char16_t kInprocServerKey[] =
    u"SOFTWARE\\Classes\\CLSID\\" VORLUND_CLSID_TEXT "\\InprocServer32";
inline constexpr char16_t kAudioProcessingObjectKey[] =
    u"SOFTWARE\\Classes\\AudioEngine\\AudioProcessingObjects\\" VORLUND_CLSID_TEXT;

// MAX_PATH: the module path buffer of registration.
constexpr std::uint32_t kModulePathCapacity = 260;

// The record GetRegistrationProperties copies whole and DllRegisterServer writes from, so
// the registry and the object agree.
extern const APO_REG_PROPERTIES kRegistrationProperties;

// Configuration thread. DllRegisterServer: the library's own path, then the three keys and
// their values. S_OK only when every key and value was written; otherwise the failing step's
// error, with what was written before left in place.
HRESULT registerServer() noexcept;
// The registration of a module at `modulePath` (null-terminated), as registerServer does it
// once it has the path.
HRESULT writeRegistration(const char16_t* modulePath) noexcept;
// What a GetModuleFileNameW result of `length` characters in a buffer of `capacity` means
// for registration: S_OK for a whole path; for a failure its last error `error`, or E_FAIL
// when there is none; HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) for a path that filled
// the buffer and may have been cut.
HRESULT modulePathResult(std::uint32_t length, std::uint32_t capacity, DWORD error) noexcept;
// Configuration thread. DllUnregisterServer: deletes the audio-engine key, then the class
// key with InprocServer32. Always S_OK, also when the keys did not exist.
HRESULT unregisterServer() noexcept;

}  // namespace vorlund
