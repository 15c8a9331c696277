// The Windows installer end to end, under Wine in a prefix of its own: a silent install puts
// the files, the registration, the Add/Remove Programs entry and the data folder with its
// security descriptor in place; the installed vorlund-ctl attaches to and detaches from a
// fake capture endpoint that holds another vendor's effects, and refuses bad input; a silent
// uninstall leaves the registry keys it touched and the file system as they were before.
// Links at the data folder lead neither the installer, the effect nor the uninstaller
// elsewhere. Built for Windows only.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "apo_host.h"
#include "channel/diagnostic_log.h"
#include "channel/parameter_channel.h"
#include "common/control_session.h"
#include "common/endpoint_effects.h"
#include "common/system_path.h"
#include "ctl/windows_commands.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/secured_folder.h"
#include "platform/system.h"
#include "registry_helpers.h"

namespace vorlund {
namespace {

using test::keyExists;

namespace fs = std::filesystem;

constexpr char kEndpoint[] = "{5EC0F00D-0000-4000-8000-0000000000E1}";
// A second microphone, its key in lower case, as some software writes it.
constexpr char kSecondEndpoint[] = "{5ec0f00d-0000-4000-8000-0000000000e2}";
constexpr char kOtherList[] =
    "{AAAAAAAA-1111-2222-3333-444444444444}\\0{BBBBBBBB-1111-2222-3333-444444444444}";
constexpr char kOtherSingle[] = "{AAAAAAAA-1111-2222-3333-444444444444}";
constexpr std::uint64_t kUninstallPatienceMs = 120000;
// The second microphone's name, with characters beyond ASCII (UTF-8).
constexpr char kSecondName[] =
    "Webcam Mic Gr\xC3\xB6\xC3\x9F"
    "e \xE2\x80\x93 \xE9\xBA\xA6";

std::string utf8(const std::wstring& text) {
  return fs::path(text).string();
}

std::string environment(const wchar_t* name) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? utf8(std::wstring(buffer, n)) : std::string();
}

std::string systemProgram(const char* name) {
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  return utf8(std::wstring(system, n)) + "\\" + name;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const fs::path& scratch() {
  static const fs::path folder = fs::temp_directory_path() / "vorlund-installer-test";
  fs::create_directories(folder);
  return folder;
}

struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};

RunResult run(std::vector<std::string> arguments) {
  const fs::path out = scratch() / "run.out";
  const fs::path err = scratch() / "run.err";
  const int code =
      runProcess(arguments, Path::fromNative(out.c_str()), Path::fromNative(err.c_str()));
  return {code, readFile(out), readFile(err)};
}

const std::string& installDir() {
  static const std::string dir = environment(L"ProgramFiles") + "\\Vorlund";
  return dir;
}
const std::string& dataDir() {
  static const std::string dir = environment(L"ProgramData") + "\\Vorlund";
  return dir;
}

RunResult ctl(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), installDir() + "\\vorlund-ctl.exe");
  return run(arguments);
}

// `reg export` of a key under HKEY_LOCAL_MACHINE, byte for byte; "absent" when it fails
// (the key does not exist).
std::string exportKey(const std::string& key) {
  const fs::path file = scratch() / "export.reg";
  fs::remove(file);
  if (run({systemProgram("reg.exe"), "export", "HKLM\\" + key, file.string(), "/y"}).exitCode != 0)
    return "absent";
  return readFile(file);
}

// Each file and folder below `folder` with its size; "absent" when there is no folder.
std::string listing(const std::string& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return "absent";
  std::vector<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string line = fs::relative(entry.path(), folder).string();
    if (entry.is_regular_file()) {
      line += ' ';
      line += std::to_string(entry.file_size());
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

// ASCII text as `reg export` writes it (UTF-16 little-endian), for finding it in an export.
std::string exported(std::string_view text) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::string endpointKey() {
  return endpointText(kCaptureEndpointsKey) + "\\" + kEndpoint;
}
std::string secondEndpointKey() {
  return endpointText(kCaptureEndpointsKey) + "\\" + kSecondEndpoint;
}

bool sameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The Start-menu folder of all users.
std::string startMenu() {
  return environment(L"ProgramData") + "\\Microsoft\\Windows\\Start Menu\\Programs\\Vorlund";
}

// The state the uninstaller must return to.
struct Trace {
  std::vector<std::string> keys;
  std::string programFiles;
  std::string programData;
  bool operator==(const Trace&) const = default;
};

Trace trace() {
  const std::string clsid = endpointText(kVorlundClsid);
  Trace t;
  for (const std::string& key :
       {endpointKey(), endpointText(kVorlundKey),
        std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorlund"),
        "Software\\Classes\\CLSID\\" + clsid,
        "Software\\Classes\\AudioEngine\\AudioProcessingObjects\\" + clsid,
        endpointText(kSystemEnvironmentKey)})
    t.keys.push_back(exportKey(key));
  t.programFiles = listing(installDir());
  t.programData = listing(dataDir());
  return t;
}

// SDDL as this system writes it back, for comparing with what a file carries.
std::u16string canonicalSddl(const char16_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      reinterpret_cast<const wchar_t*>(sddl), SDDL_REVISION_1, &descriptor, nullptr));
  LPWSTR text = nullptr;
  EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1,
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr));
  std::u16string out = text == nullptr ? u"" : reinterpret_cast<const char16_t*>(text);
  LocalFree(text);
  LocalFree(descriptor);
  return out;
}

std::u16string sddlOf(const std::string& path) {
  std::u16string sddl;
  EXPECT_EQ(0u, readSecurityDescriptor(Path::fromUtf8(path), sddl)) << path;
  return sddl;
}

// The rights the descriptor's allow entries give `account` (SDDL form: "IU", "LS"...) on the
// folder itself, or on the files created in it.
DWORD rightsOf(PSECURITY_DESCRIPTOR descriptor, const wchar_t* account, bool onFiles) {
  PSID sid = nullptr;
  EXPECT_TRUE(ConvertStringSidToSidW(account, &sid));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  DWORD rights = 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, header->AceType) << "only allow entries";
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    const bool applies = onFiles ? (header->AceFlags & OBJECT_INHERIT_ACE) != 0
                                 : (header->AceFlags & INHERIT_ONLY_ACE) == 0;
    if (applies && EqualSid(sid, const_cast<DWORD*>(&ace->SidStart))) rights |= ace->Mask;
  }
  LocalFree(sid);
  return rights;
}

// The uninstaller runs a copy of itself and returns at once: its work shows when its
// Add/Remove Programs entry, removed last, is gone.
void waitForUninstall() {
  for (const std::uint64_t end = tickCount64() + kUninstallPatienceMs;
       tickCount64() < end &&
       keyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorlund");)
    sleepMilliseconds(200);
  sleepMilliseconds(500);
}

// The host's path of a path on C: in this Wine prefix.
std::string hostPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return environment(L"WINEPREFIX") + "/drive_c/" + path.substr(3);
}

// Runs a host program (Wine does not wait for one) and waits until `path` shows the
// attributes asked for.
void runOnHost(std::vector<std::string> arguments, const std::string& path, bool present) {
  run(std::move(arguments));
  const std::wstring name = fs::path(path).wstring();
  for (const std::uint64_t end = tickCount64() + 10000;
       tickCount64() < end &&
       (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) == present;)
    sleepMilliseconds(50);
}

// A directory link at `link` to `target` (both on C:). Wine 8 makes none through
// CreateSymbolicLinkW, so there it is a symbolic link of the host, which Wine reports as a
// reparse point.
void makeLink(const std::string& link, const std::string& target) {
  const std::wstring name = fs::path(link).wstring();
  if (runningUnderWine())
    runOnHost({"Z:\\bin\\ln", "-s", hostPath(target), hostPath(link)}, link, true);
  else
    CreateSymbolicLinkW(name.c_str(), fs::path(target).wstring().c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  ASSERT_TRUE(attributes != INVALID_FILE_ATTRIBUTES &&
              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      << link;
}

void removeLink(const std::string& link) {
  const std::wstring name = fs::path(link).wstring();
  if (runningUnderWine())
    runOnHost({"Z:\\bin\\rm", hostPath(link)}, link, false);
  else
    RemoveDirectoryW(name.c_str());
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(name.c_str())) << link;
}

// Verifies the data folder's policy as Windows reads it: owned by Administrators, not
// inheriting from ProgramData; SYSTEM and Administrators in full control; the audio engine's
// account may add, change, delete and rename files but not add folders or change the rules;
// interactive users may list the folder and read and write the existing files, but not add a
// file or folder (no link or junction either), delete, rename or replace one, or change the
// rules.
TEST(DataFolderPolicyTest, OnlyAdministratorsAndTheServiceMayAddToTheFolder) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      reinterpret_cast<const wchar_t*>(kDataFolderSddl), SDDL_REVISION_1, &sd, nullptr));
  PSID owner = nullptr, administrators = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(sd, &owner, &defaulted));
  ASSERT_TRUE(ConvertStringSidToSidW(L"BA", &administrators));
  EXPECT_TRUE(EqualSid(owner, administrators));
  LocalFree(administrators);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
  EXPECT_NE(0, control & SE_DACL_PROTECTED);

  constexpr DWORD kChangeRules = WRITE_DAC | WRITE_OWNER;
  for (const bool onFiles : {false, true}) {
    SCOPED_TRACE(onFiles ? "files" : "folder");
    for (const wchar_t* full : {L"SY", L"BA"})
      EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), rightsOf(sd, full, onFiles));
    EXPECT_EQ(0u, rightsOf(sd, L"WD", onFiles)) << "Everyone";
    EXPECT_EQ(0u, rightsOf(sd, L"BU", onFiles)) << "Users beyond the signed-in ones";
  }
  const DWORD serviceFolder = rightsOf(sd, L"LS", false);
  EXPECT_EQ(static_cast<DWORD>(FILE_ADD_FILE | FILE_LIST_DIRECTORY | FILE_TRAVERSE),
            serviceFolder & (FILE_ADD_FILE | FILE_LIST_DIRECTORY | FILE_TRAVERSE));
  EXPECT_EQ(0u, serviceFolder & (FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | kChangeRules));
  const DWORD serviceFiles = rightsOf(sd, L"LS", true);
  EXPECT_EQ(static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE),
            serviceFiles & (FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE));
  EXPECT_EQ(0u, serviceFiles & kChangeRules);
  const DWORD userFolder = rightsOf(sd, L"IU", false);
  EXPECT_EQ(static_cast<DWORD>(FILE_LIST_DIRECTORY | FILE_TRAVERSE),
            userFolder & (FILE_LIST_DIRECTORY | FILE_TRAVERSE));
  EXPECT_EQ(0u, userFolder & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                              FILE_WRITE_ATTRIBUTES | kChangeRules));
  const DWORD userFiles = rightsOf(sd, L"IU", true);
  EXPECT_EQ(static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA),
            userFiles & (FILE_READ_DATA | FILE_WRITE_DATA));
  EXPECT_EQ(0u, userFiles & (DELETE | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | kChangeRules));
  LocalFree(sd);
}

// Verifies that ctl.lock opens only to writers: LockFileEx takes a lock through any handle, so
// each account the file admits may both read and write it and may write the data folder's files
// (or owns the lock file, having made it there), no rule comes from the folder, and neither
// Everyone nor plain users are named.
TEST(WritersLockPolicyTest, OnlyThoseWhoMayWriteTheDataFolderMayOpenTheLock) {
  PSECURITY_DESCRIPTOR lock = nullptr;
  PSECURITY_DESCRIPTOR folder = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      reinterpret_cast<const wchar_t*>(kWritersLockSddl), SDDL_REVISION_1, &lock, nullptr));
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      reinterpret_cast<const wchar_t*>(kDataFolderSddl), SDDL_REVISION_1, &folder, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(lock, &control, &revision));
  EXPECT_NE(0, control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(lock, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr && dacl->AceCount > 0);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&header)));
    ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, header->AceType);
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    LPWSTR sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart), &sid));
    SCOPED_TRACE(utf8(sid));
    EXPECT_EQ(0, header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE));
    // A writer opens it with GENERIC_READ | GENERIC_WRITE.
    EXPECT_EQ(static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_WRITE),
              ace->Mask & (FILE_GENERIC_READ | FILE_GENERIC_WRITE));
    if (std::wstring(sid) != L"S-1-3-4") {  // OWNER RIGHTS
      EXPECT_NE(0u, rightsOf(folder, sid, true) & FILE_WRITE_DATA) << "not a writer";
    }
    LocalFree(sid);
  }
  for (const wchar_t* outsider : {L"WD", L"BU", L"AU", L"NS"})
    EXPECT_EQ(0u, rightsOf(lock, outsider, false)) << utf8(outsider);
  LocalFree(folder);
  LocalFree(lock);
}

// Verifies the whole life of an installation, as the installer's users meet it.
TEST(InstallerTest, SilentInstallAttachDetachUninstallLeavesNoTrace) {
  const std::string reg = systemProgram("reg.exe");
  const std::string fx = "HKLM\\" + endpointKey() + "\\FxProperties";
  ASSERT_EQ(0, run({reg, "add", "HKLM\\" + endpointKey(), "/v", "DeviceState", "/t", "REG_DWORD",
                    "/d", "1", "/f"})
                   .exitCode);
  ASSERT_EQ(0, run({reg, "add", fx, "/v", endpointText(kCompositeStreamEffectValue), "/t",
                    "REG_MULTI_SZ", "/d", kOtherList, "/f"})
                   .exitCode);
  ASSERT_EQ(0, run({reg, "add", fx, "/v", endpointText(kStreamEffectValue), "/t", "REG_SZ", "/d",
                    kOtherSingle, "/f"})
                   .exitCode);
  // Two microphones with names; the second has no effect properties yet.
  const std::string second = kSecondEndpoint;
  for (const auto& [key, name] :
       {std::pair{endpointKey(), "USB Headset Mic"},
        {endpointText(kCaptureEndpointsKey) + "\\" + second, kSecondName}})
    ASSERT_EQ(0, run({reg, "add", "HKLM\\" + key + "\\Properties", "/v",
                      "{a45c254e-df1c-4efd-8020-67d146a850e0},2", "/t", "REG_SZ", "/d", name, "/f"})
                     .exitCode);
  const Trace before = trace();
  ASSERT_EQ("absent", before.programFiles) << "the prefix is not fresh";
  ASSERT_EQ("absent", before.programData);

  // Install: files, registration, the Add/Remove Programs entry, the data folder.
  ASSERT_EQ(0, run({VORLUND_INSTALLER, "/S"}).exitCode);
  for (const char* file : {"VorlundApo.dll", "vorlund-ctl.exe", "README.md", "uninstall.exe",
                           "presets\\default.vrl", "presets\\podcast.vrl"})
    EXPECT_TRUE(fs::is_regular_file(installDir() + "\\" + file)) << file;
  const std::string clsid = endpointText(kVorlundClsid);
  EXPECT_NE(std::string::npos, exportKey("Software\\Classes\\CLSID\\" + clsid + "\\InprocServer32")
                                   .find(exported("Vorlund\\\\VorlundApo.dll")));
  EXPECT_TRUE(keyExists("Software\\Classes\\AudioEngine\\AudioProcessingObjects\\" + clsid));
  const std::string entry =
      exportKey("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorlund");
  EXPECT_NE(std::string::npos, entry.find(exported("\"DisplayVersion\"=\"" VORLUND_VERSION "\"")));
  EXPECT_NE(std::string::npos, entry.find(exported("uninstall.exe")));
  EXPECT_EQ("apo.log 0\nctl.lock 0\nparams.bin 524\nshared.bin 65536\n", listing(dataDir()));
  // Wine 8 accepts the descriptors but keeps only what its file modes can hold; Windows keeps
  // them whole.
  for (const auto& [path, sddl] : {std::pair{dataDir(), kDataFolderSddl},
                                   std::pair{dataDir() + "\\ctl.lock", kWritersLockSddl}}) {
    const std::u16string stored = sddlOf(path);
    if (runningUnderWine() && stored != canonicalSddl(sddl))
      std::cout << "note: this Wine does not keep the security descriptor of " << path << ": "
                << endpointText(stored) << "\n";
    else
      EXPECT_EQ(canonicalSddl(sddl), stored) << path;
  }
  EXPECT_EQ(0, ctl({"show"}).exitCode) << "the pre-created shared.bin holds a usable block";
  EXPECT_TRUE(fs::is_regular_file(startMenu() + "\\Vorlund control panel.lnk"));
  EXPECT_TRUE(fs::is_regular_file(startMenu() + "\\Uninstall Vorlund.lnk"));
  {
    // A new prompt takes PATH from the registry.
    std::vector<RegistryValue> values;
    ASSERT_EQ(0u, readRegistryValues(kSystemEnvironmentKey, values));
    for (const RegistryValue& value : values)
      if (sameText(endpointText(value.name), "Path")) {
        wchar_t expanded[4096];
        ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(value.text().c_str()), expanded,
                                  4096);
        SetEnvironmentVariableW(L"PATH", expanded);
      }
    const RunResult byName = run({systemProgram("cmd.exe"), "/c", "vorlund-ctl", "--version"});
    EXPECT_EQ(0, byName.exitCode) << byName.err;
    EXPECT_NE(std::string::npos, byName.out.find(VORLUND_VERSION)) << byName.out;
  }

  // Attach keeps the other vendor's effects; a second attach changes nothing; detach restores
  // the endpoint byte for byte.
  const std::string pristine = exportKey(endpointKey());
  const RunResult devices = ctl({"devices"});
  EXPECT_EQ(devices.out, ctl({"devices"}).out) << "the same numbers every time";
  EXPECT_NE(std::string::npos, devices.out.find(std::string("2  ") + kSecondName)) << devices.out;
  EXPECT_LT(devices.out.find("1  USB Headset Mic"), devices.out.find("2  Webcam Mic"))
      << devices.out;
  const RunResult attach = ctl({"attach", kEndpoint});
  ASSERT_EQ(0, attach.exitCode);
  EXPECT_NE(std::string::npos,
            attach.out.find("attached Vorlund to USB Headset Mic ({0.0.1.00000000}." +
                            std::string(kEndpoint) + ")"))
      << attach.out;
  const std::string attached = exportKey(endpointKey());
  EXPECT_NE(pristine, attached);
  // The installer's Microphones page reads this form: attached, default, id, name, in UTF-16
  // after a byte-order mark.
  const std::string wide = ctl({"devices", "--lines"}).out;
  ASSERT_EQ(0u, wide.size() % 2);
  ASSERT_EQ(0u, wide.find("\xFF\xFE")) << "byte-order mark";
  std::u16string text(wide.size() / 2 - 1, u'\0');
  std::memcpy(text.data(), wide.data() + 2, wide.size() - 2);
  std::string lines = endpointText(text);
  std::erase(lines, '\r');
  EXPECT_EQ(0u, lines.find("1\t")) << lines;
  EXPECT_NE(std::string::npos,
            lines.find(std::string("\t{0.0.1.00000000}.") + kEndpoint + "\tUSB Headset Mic\n0\t"))
      << lines;
  EXPECT_EQ(lines.size() - std::strlen(kSecondName) - 2,
            lines.find(std::string("\t") + kSecondName + "\n"))
      << lines;
  const RunResult list = run({reg, "query", fx, "/v", endpointText(kCompositeStreamEffectValue)});
  EXPECT_NE(std::string::npos,
            list.out.find(std::string(kOtherList) + "\\0" + endpointText(kVorlundClsid)))
      << list.out;
  EXPECT_NE(std::string::npos,
            run({reg, "query", fx, "/v", endpointText(kStreamEffectValue)}).out.find(kOtherSingle));
  EXPECT_NE(std::string::npos, run({reg, "query", fx, "/v", endpointText(kStreamModesValue)})
                                   .out.find(endpointText(kCommunicationsModeGuid)));
  EXPECT_EQ(0, ctl({"attach", std::string("{0.0.1.00000000}.") + kEndpoint}).exitCode);
  EXPECT_EQ(attached, exportKey(endpointKey()));
  EXPECT_EQ(0, ctl({"detach", kEndpoint}).exitCode);
  EXPECT_EQ(pristine, exportKey(endpointKey()));
  ASSERT_EQ(0, ctl({"attach", kEndpoint, "--slot", "lfx"}).exitCode);
  EXPECT_NE(std::string::npos, run({reg, "query", fx, "/v", endpointText(kLocalEffectValue)})
                                   .out.find(endpointText(kVorlundClsid)));
  // A list, as the Microphones page passes its unticked ones; the second is not attached.
  EXPECT_EQ(0, ctl({"detach", std::string(kEndpoint) + ",2"}).exitCode);
  EXPECT_EQ(pristine, exportKey(endpointKey()));
  EXPECT_EQ("absent", exportKey(endpointText(kVorlundKey)));

  // Bad input: its message, its exit code, nothing written.
  const std::string backup = "HKLM\\" + endpointText(kEndpointBackupsKey) + "\\" + kEndpoint;
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{"attach", "microphone"}, 2, "is not a capture endpoint id"},
      {{"attach", "{0.0.0.00000000}." + std::string(kEndpoint)}, 2, "is not a capture endpoint id"},
      {{"attach", "{DEADBEEF-0000-4000-8000-000000000000}"}, 8, "there is no capture endpoint"},
      {{"detach", "99"}, 8, "there is no microphone number 99"},
      {{"detach"}, 2, "usage"},
      {{"attach", second}, 10, "has no effect properties"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + (c.arguments.size() > 1 ? c.arguments[1] : ""));
    const RunResult result = ctl(c.arguments);
    EXPECT_EQ(c.exitCode, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
  }
  EXPECT_EQ(pristine, exportKey(endpointKey()));
  EXPECT_FALSE(keyExists(secondEndpointKey() + "\\FxProperties"));
  ASSERT_EQ(0, run({reg, "add", "HKLM\\" + secondEndpointKey() + "\\FxProperties", "/f"}).exitCode);
  ASSERT_EQ(0,
            run({reg, "add", backup, "/v", "Format", "/t", "REG_DWORD", "/d", "9", "/f"}).exitCode);
  const std::string foreign = exportKey(endpointText(kVorlundKey));
  for (const char* command : {"attach", "detach"}) {
    const RunResult result = ctl({command, kEndpoint});
    EXPECT_EQ(11, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("another version")) << result.err;
  }
  EXPECT_EQ(pristine, exportKey(endpointKey()));
  EXPECT_EQ(foreign, exportKey(endpointText(kVorlundKey)));
  ASSERT_EQ(0, run({reg, "delete", "HKLM\\" + endpointText(kVorlundKey), "/f"}).exitCode);

  // Vorlund taken off behind vorlund-ctl's back (a driver update), and enhancements off.
  ASSERT_EQ(0, ctl({"attach", kEndpoint}).exitCode);
  ASSERT_EQ(0, run({reg, "add", fx, "/v", endpointText(kCompositeStreamEffectValue), "/t",
                    "REG_MULTI_SZ", "/d", kOtherList, "/f"})
                   .exitCode);
  ASSERT_EQ(0, run({reg, "add", fx, "/v", endpointText(kDisableSysFxValue), "/t", "REG_DWORD", "/d",
                    "1", "/f"})
                   .exitCode);
  const std::string lost = ctl({"devices"}).out;
  EXPECT_NE(std::string::npos, lost.find("USB Headset Mic  [active]  Vorlund detached by the "
                                         "system (run 'vorlund-ctl attach' again)  enhancements "
                                         "off"))
      << lost;
  const RunResult sick = ctl({"doctor"});
  EXPECT_NE(std::string::npos,
            sick.out.find("[problem] microphone USB Headset Mic ({0.0.1.00000000}." +
                          std::string(kEndpoint) + "): detached by the system"))
      << sick.out;
  EXPECT_NE(std::string::npos, sick.out.find("): enhancements off")) << sick.out;
  ASSERT_EQ(0, run({reg, "delete", fx, "/v", endpointText(kDisableSysFxValue), "/f"}).exitCode);
  ASSERT_EQ(0, ctl({"detach", kEndpoint}).exitCode);
  EXPECT_EQ(pristine, exportKey(endpointKey()));

  // Uninstall while attached: the uninstaller detaches. It runs a copy of itself and returns
  // at once, so wait for its work to show.
  ASSERT_EQ(0, ctl({"attach", "1"}).exitCode) << "the first by name";
  {
    // A stream through the installed DLL, as the engine runs one: 'doctor' finds its trace.
    ApoHost host(Path::fromUtf8(installDir() + "\\VorlundApo.dll"));
    host.lock(1, 48000.0f, 480);
    std::vector<float> block(480, 0.0f);
    host.process(block.data(), 480);
    host.unlock();
    const RunResult holding = ctl({"doctor"});
    EXPECT_NE(std::string::npos, holding.out.find("[ok]      DLL in use by the audio engine: "
                                                  "loaded by installer_tests.exe (process "))
        << holding.out;
  }
  const RunResult healthy = ctl({"doctor"});
  EXPECT_NE(std::string::npos, healthy.out.find("[warning] DLL signature: unsigned"))
      << healthy.out;
  EXPECT_EQ(std::string::npos, healthy.out.find("loaded by")) << healthy.out;
  for (const char* verdict :
       {"[ok]      DLL registered (64-bit view): ",
        "[ok]      audio engine ran the effect: "
        "last stream: ",
        "] LockForProcess: 48000 Hz, 1 ch", "[ok]      microphone USB Headset Mic"})
    EXPECT_NE(std::string::npos, healthy.out.find(verdict)) << verdict << "\n" << healthy.out;
  ASSERT_EQ(0, run({installDir() + "\\uninstall.exe", "/S"}).exitCode);
  waitForUninstall();
  const Trace after = trace();
  EXPECT_FALSE(fs::exists(startMenu()));
  EXPECT_EQ(before.programFiles, after.programFiles);
  EXPECT_EQ(before.programData, after.programData);
  ASSERT_EQ(before.keys.size(), after.keys.size());
  for (std::size_t i = 0; i < before.keys.size(); ++i)
    EXPECT_TRUE(before.keys[i] == after.keys[i]) << "key " << i << " differs after uninstalling";
}

// Verifies that a link at the data folder, or in it, to a folder of someone else's never
// leads Vorlund there: the install refuses such a data folder (non-zero, nothing installed);
// the effect falls back and says why; the uninstaller, run with a link in the folder and with
// the folder itself a link, deletes only its own files and leaves the other folder as it was.
TEST(InstallerTest, LinksAtTheDataFolderAreNeverFollowed) {
  const std::string outside = environment(L"SystemDrive") + "\\unrelated";
  fs::create_directories(outside);
  { std::ofstream(outside + "\\keep.txt") << "someone's"; }
  const std::string untouched = "keep.txt 9\n";
  const std::string inner = dataDir() + "\\inner";
  const auto uninstall = [] {
    ASSERT_EQ(0, run({installDir() + "\\uninstall.exe", "/S"}).exitCode);
    waitForUninstall();
  };

  fs::create_directories(dataDir());
  makeLink(inner, outside);
  EXPECT_NE(0, run({VORLUND_INSTALLER, "/S"}).exitCode) << "a link in the data folder";
  EXPECT_EQ("absent", listing(installDir()));
  removeLink(inner);
  fs::remove(dataDir());
  makeLink(dataDir(), outside);
  EXPECT_NE(0, run({VORLUND_INSTALLER, "/S"}).exitCode) << "the data folder a link";
  EXPECT_EQ("absent", listing(installDir()));
  EXPECT_EQ(untouched, listing(outside));

  // The effect, with the data folder a link: its channel and its log stay out of it.
  {
    ParameterChannel channel;
    channel.open();
    ASSERT_NE(nullptr, channel.activeBlock());
    EXPECT_FALSE(channel.isShared());
  }
  EXPECT_EQ(untouched, listing(outside));
  EXPECT_NE(std::string::npos,
            readFile(fs::path(logTempFolder().c_str()) / "apo.log")
                .find("shared.bin refused: its folder is a link or reparse point"));
  removeLink(dataDir());

  // Uninstalling with a link in the data folder: Vorlund's files go, the link and what it
  // leads to stay.
  ASSERT_EQ(0, run({VORLUND_INSTALLER, "/S"}).exitCode);
  makeLink(inner, outside);
  uninstall();
  EXPECT_EQ("absent", listing(installDir()));
  for (const char* file : {"shared.bin", "params.bin", "apo.log"})
    EXPECT_FALSE(fs::exists(dataDir() + "\\" + file)) << file;
  EXPECT_EQ(untouched, listing(outside));
  removeLink(inner);
  fs::remove(dataDir());

  // Uninstalling with the data folder itself a link: nothing happens through it. Installed
  // onto both microphones, which the uninstall gives back as they were.
  const std::string endpoints = exportKey(endpointKey()) + exportKey(secondEndpointKey());
  ASSERT_EQ(0, run({VORLUND_INSTALLER, "/S", "/ATTACH=all"}).exitCode);
  const std::string listed = ctl({"devices"}).out;
  EXPECT_EQ(2, std::count(listed.begin(), listed.end(), '\n') / 2) << listed;
  EXPECT_EQ(std::string::npos, listed.find("]\n")) << "not attached: " << listed;
  fs::rename(dataDir(), dataDir() + ".moved");
  makeLink(dataDir(), outside);
  uninstall();
  EXPECT_EQ("absent", listing(installDir()));
  EXPECT_EQ(untouched, listing(outside));
  EXPECT_EQ(endpoints, exportKey(endpointKey()) + exportKey(secondEndpointKey()));
  removeLink(dataDir());
  fs::remove_all(dataDir() + ".moved");
  fs::remove_all(outside);
}

}  // namespace
}  // namespace vorlund
