// The DLL as Windows meets it, under Wine in the tests' private prefix: registered and
// unregistered by regsvr32, found by COM through the registry and created with
// CoCreateInstance, and described by its version resource. Built for Windows only.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "com_test_objects.h"
#include "registry_helpers.h"
#include "signal_helpers.h"
#include "temp_data_folder.h"
#include "vorlund_version.h"

namespace vorlund {
namespace {

using test::keyExists;

constexpr CLSID kClsid = {
    0x6A3D2F10, 0x4C8E, 0x4B7A, {0x9E, 0x21, 0x5F, 0x0C, 0x8B, 0x7D, 0x3A, 0x64}};
constexpr char16_t kClassKey[] =
    u"SOFTWARE\\Classes\\CLSID\\{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}";
constexpr char16_t kInprocServerKey[] =
    u"SOFTWARE\\Classes\\CLSID\\{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}\\InprocServer32";
constexpr char16_t kAudioProcessingObjectKey[] =
    u"SOFTWARE\\Classes\\AudioEngine\\AudioProcessingObjects\\"
    u"{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}";

std::string ascii(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The DLL's path as Windows writes it.
std::wstring libraryPath() {
  std::wstring path;
  for (const char* c = VORLUND_APO_LIBRARY; *c != 0; ++c)
    path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
  return path;
}

// Runs the prefix's own regsvr32 on the DLL and returns its exit code.
DWORD regsvr32(const wchar_t* options) {
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_GT(n, 0u);
  const std::wstring program = std::wstring(system) + L"\\regsvr32.exe";
  std::wstring command = L"regsvr32 " + std::wstring(options) + L" \"" + libraryPath() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "regsvr32 did not start: " << GetLastError();
    return 0xFFFFFFFFu;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFFu;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// The values of a key under HKEY_LOCAL_MACHINE (64-bit view) by name, straight from the
// registry API; empty when the key does not exist.
std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> readKey(const char16_t* subKey) {
  std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> values;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(subKey), 0,
                    KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0;
    BYTE data[1024];
    DWORD size = sizeof data;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    values[std::wstring(name, nameLength)] = {type, std::vector<BYTE>(data, data + size)};
  }
  RegCloseKey(key);
  return values;
}

std::wstring text(const std::pair<DWORD, std::vector<BYTE>>& value) {
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.first);
  const auto* chars = reinterpret_cast<const wchar_t*>(value.second.data());
  return std::wstring(chars, wcsnlen(chars, value.second.size() / 2));
}

DWORD number(const std::pair<DWORD, std::vector<BYTE>>& value) {
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.first);
  EXPECT_EQ(4u, value.second.size());
  DWORD n = 0;
  if (value.second.size() == 4) std::memcpy(&n, value.second.data(), 4);
  return n;
}

// Verifies registration for real: regsvr32 succeeds; the class key names the server (this
// DLL's own path, both threading models) and the audio engine's key holds exactly the
// twelve values; COM then creates the object from the registry and it processes audio; and
// regsvr32 /u removes both keys.
TEST(ComServerTest, RegisteredServerIsCreatedByCom) {
  test::TempDataFolder temp;
  ASSERT_EQ(0u, regsvr32(L"/s"));

  const auto classValues = readKey(kClassKey);
  ASSERT_EQ(1u, classValues.size());
  EXPECT_EQ(L"Vorlund APO", text(classValues.at(L"")));
  const auto serverValues = readKey(kInprocServerKey);
  ASSERT_EQ(2u, serverValues.size());
  EXPECT_EQ(0, _wcsicmp(libraryPath().c_str(), text(serverValues.at(L"")).c_str()))
      << "registered " << ascii(text(serverValues.at(L"")));
  EXPECT_EQ(L"Both", text(serverValues.at(L"ThreadingModel")));

  const auto apoValues = readKey(kAudioProcessingObjectKey);
  EXPECT_EQ(12u, apoValues.size());
  EXPECT_EQ(L"Vorlund", text(apoValues.at(L"FriendlyName")));
  EXPECT_FALSE(text(apoValues.at(L"Copyright")).empty());
  const std::pair<const wchar_t*, DWORD> numbers[] = {{L"MajorVersion", VORLUND_VERSION_MAJOR},
                                                      {L"MinorVersion", VORLUND_VERSION_MINOR},
                                                      {L"Flags", 0xF},
                                                      {L"MinInputConnections", 1},
                                                      {L"MaxInputConnections", 1},
                                                      {L"MinOutputConnections", 1},
                                                      {L"MaxOutputConnections", 1},
                                                      {L"MaxInstances", 0xFFFFFFFF},
                                                      {L"NumAPOInterfaces", 1}};
  for (const auto& [name, value] : numbers) {
    ASSERT_EQ(1u, apoValues.count(name)) << ascii(name);
    EXPECT_EQ(value, number(apoValues.at(name)));
  }
  EXPECT_EQ(L"{5FA00F27-ADD6-499a-8A9D-6B98521FA75B}", text(apoValues.at(L"APOInterface0")));

  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  {
    IAudioProcessingObject* apo = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAudioProcessingObject, reinterpret_cast<void**>(&apo)));
    EXPECT_EQ(S_OK, apo->Initialize(0, nullptr));
    IAudioProcessingObjectRT* rt = nullptr;
    IAudioProcessingObjectConfiguration* config = nullptr;
    ASSERT_EQ(S_OK,
              apo->QueryInterface(IID_IAudioProcessingObjectRT, reinterpret_cast<void**>(&rt)));
    ASSERT_EQ(S_OK, apo->QueryInterface(IID_IAudioProcessingObjectConfiguration,
                                        reinterpret_cast<void**>(&config)));
    test::HostStream stream(test::floatFormat(1, 48000.0f));
    IAudioMediaType* answer = nullptr;
    ASSERT_EQ(S_OK, apo->IsInputFormatSupported(nullptr, &stream.type, &answer));
    answer->Release();
    ASSERT_EQ(S_OK, stream.lock(*config));
    const std::vector<float> tone = test::sine(440.0, 48000.0, 480 * 500, 0.25);
    double energy = 0.0;
    bool finite = true;
    for (int b = 0; b < 500; ++b) {
      std::vector<float> block(tone.begin() + b * 480, tone.begin() + (b + 1) * 480);
      const APO_CONNECTION_PROPERTY out = stream.process(*rt, block.data(), 480);
      EXPECT_EQ(480u, out.u32ValidFrameCount);
      for (float x : block) {
        finite = finite && std::isfinite(x) && std::fabs(x) <= 1.0f;
        if (b >= 100) energy += static_cast<double>(x) * x;
      }
    }
    EXPECT_TRUE(finite);
    EXPECT_GT(energy, 0.1);
    HNSTIME latency = 0;
    EXPECT_EQ(S_OK, apo->GetLatency(&latency));
    EXPECT_EQ(static_cast<HNSTIME>(583 * 10'000'000.0 / 48000.0), latency);
    EXPECT_EQ(S_OK, config->UnlockForProcess());
    config->Release();
    rt->Release();
    EXPECT_EQ(0u, apo->Release());
  }
  CoUninitialize();

  EXPECT_EQ(0u, regsvr32(L"/u /s"));
  EXPECT_FALSE(keyExists(kAudioProcessingObjectKey));
  EXPECT_FALSE(keyExists(kInprocServerKey));
  EXPECT_FALSE(keyExists(kClassKey));
  // Unregistering what is not registered still succeeds.
  EXPECT_EQ(0u, regsvr32(L"/u /s"));
}

std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || value == nullptr)
    return L"(missing)";
  return std::wstring(static_cast<const wchar_t*>(value));
}

// Verifies the version resource as Windows reads it: the project version (major.minor.patch.0)
// in the fixed part and as text, a 32-bit Windows NT DLL, and the names and notice.
TEST(ComServerTest, VersionResourceDescribesTheComponent) {
  const std::wstring path = libraryPath();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  constexpr DWORD kMostSignificant = (VORLUND_VERSION_MAJOR << 16) | VORLUND_VERSION_MINOR;
  constexpr DWORD kLeastSignificant = VORLUND_VERSION_PATCH << 16;
  EXPECT_EQ(kMostSignificant, fixed->dwFileVersionMS);
  EXPECT_EQ(kLeastSignificant, fixed->dwFileVersionLS);
  EXPECT_EQ(kMostSignificant, fixed->dwProductVersionMS);
  EXPECT_EQ(kLeastSignificant, fixed->dwProductVersionLS);
  EXPECT_EQ(0x40004u, fixed->dwFileOS);
  EXPECT_EQ(0x2u, fixed->dwFileType);

  EXPECT_EQ(L"" VORLUND_VERSION_TEXT, versionString(info, L"FileVersion"));
  EXPECT_EQ(L"" VORLUND_VERSION_TEXT, versionString(info, L"ProductVersion"));
  EXPECT_EQ(L"Vorlund audio processing object", versionString(info, L"FileDescription"));
  EXPECT_EQ(L"VorlundApo", versionString(info, L"InternalName"));
  EXPECT_EQ(L"Vorlund", versionString(info, L"ProductName"));
  const std::wstring notice = versionString(info, L"LegalCopyright");
  EXPECT_NE(std::wstring::npos, notice.find(L"Vorlund"));
  EXPECT_LE(notice.size(), 255u);
  EXPECT_EQ(notice, versionString(info, L"CompanyName"));
}

}  // namespace
}  // namespace vorlund
