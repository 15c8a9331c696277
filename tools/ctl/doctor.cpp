#include "doctor.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/endpoint_effects.h"
#include "platform/registry.h"
#include "platform/secured_folder.h"
#include "windows_commands.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <softpub.h>
#include <tlhelp32.h>
#include <wintrust.h>
// clang-format on
#endif

namespace vorlund {
namespace {

class Report {
 public:
  void ok(const std::string& check, const std::string& finding) {
    std::cout << "[ok]      " << check << ": " << finding << "\n";
  }
  void problem(const std::string& check, const std::string& finding, const std::string& todo) {
    std::cout << "[problem] " << check << ": " << finding << "\n          what to do: " << todo
              << "\n";
    ++problems_;
  }
  // Not known to be wrong, but worth knowing when the effect does not load.
  void warning(const std::string& check, const std::string& finding, const std::string& means) {
    std::cout << "[warning] " << check << ": " << finding << "\n          " << means << "\n";
  }
  int problems() const { return problems_; }

 private:
  int problems_ = 0;
};

// The value's text as a person reads it: a string, a list joined by ", ", or a number.
std::string shown(const std::vector<RegistryValue>& values, std::u16string_view name) {
  for (const RegistryValue& v : values) {
    if (endpointText(v.name) != endpointText(name)) continue;
    if (v.type == REG_SZ) return endpointText(v.text());
    if (v.type == REG_DWORD) return std::to_string(v.number());
    if (v.type != REG_MULTI_SZ) return "(type " + std::to_string(v.type) + ")";
    std::string list;
    for (const std::u16string& s : v.strings())
      list += (list.empty() ? "" : ", ") + endpointText(s);
    return list;
  }
  return "absent";
}

// The registered DLL's path, empty when it is not registered where it should be.
std::string checkRegistration(Report& report) {
  const std::u16string key =
      u"Software\\Classes\\CLSID\\" + std::u16string(kVorlundClsid) + u"\\InprocServer32";
  std::vector<RegistryValue> values;
  const std::string check = "DLL registered (64-bit view)";
  const std::string todo =
      "run the installer again, or 'regsvr32 \"C:\\Program Files\\Vorlund\\VorlundApo.dll\"' "
      "from a prompt opened with 'Run as administrator'";
  if (readRegistryValues(key.c_str(), values) != ERROR_SUCCESS) {
    report.problem(check, "no class " + endpointText(kVorlundClsid), todo);
    return {};
  }
  const std::string path = shown(values, u"");
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) {
    report.problem(check, "registered as " + path + ", which is not there", todo);
    return {};
  }
  report.ok(check, path);
  return path;
}

#ifdef _WIN32
std::wstring wide(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

std::string hex(LONG code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

// Authenticode, as Windows checks a file before trusting it; no revocation lookups (offline).
void checkSignature(Report& report, const std::string& dll) {
  const std::wstring file = wide(dll);
  WINTRUST_FILE_INFO info{};
  info.cbStruct = sizeof info;
  info.pcwszFilePath = file.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  const std::string check = "DLL signature";
  if (result == ERROR_SUCCESS) return report.ok(check, "signed, and the signature is trusted");
  if (result == static_cast<LONG>(TRUST_E_NOSIGNATURE))
    return report.warning(
        check, "unsigned (WinVerifyTrust " + hex(result) + ")",
        "Windows runs unsigned effects in the audio engine as a rule, but policies that admit "
        "only signed code (Smart App Control, application control, some security software) "
        "keep it out; if no stream ever reaches Vorlund, look in their logs for VorlundApo.dll");
  report.warning(check,
                 "signed, but the signature is not trusted (WinVerifyTrust " + hex(result) + ")",
                 "the file changed after signing or its certificate is not trusted here; "
                 "install it again from the original installer");
}

// Whether a process has the DLL loaded: the audio engine (audiodg.exe) does while a stream
// runs through it. Other accounts' processes can be looked into only with the rights for it.
void checkHeld(Report& report, const std::string& dll) {
  const std::string check = "DLL in use by the audio engine";
  const std::wstring file = wide(dll);
  const HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (processes == INVALID_HANDLE_VALUE)
    return report.warning(check, "cannot tell: the processes cannot be listed",
                          "see whether a stream ran through Vorlund in the check above");
  std::vector<std::string> holders;
  int unreadable = 0;
  PROCESSENTRY32W process{};
  process.dwSize = sizeof process;
  for (BOOL more = Process32FirstW(processes, &process); more;
       more = Process32NextW(processes, &process)) {
    if (process.th32ProcessID == 0) continue;
    const HANDLE modules =
        CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process.th32ProcessID);
    if (modules == INVALID_HANDLE_VALUE) {
      ++unreadable;
      continue;
    }
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL next = Module32FirstW(modules, &module); next; next = Module32NextW(modules, &module))
      if (CompareStringOrdinal(module.szExePath, -1, file.c_str(), -1, TRUE) == CSTR_EQUAL) {
        holders.push_back(std::filesystem::path(process.szExeFile).string() + " (process " +
                          std::to_string(process.th32ProcessID) + ")");
        break;
      }
    CloseHandle(modules);
  }
  CloseHandle(processes);
  if (!holders.empty()) {
    std::string list;
    for (const std::string& h : holders) list += (list.empty() ? "" : ", ") + h;
    return report.ok(check, "loaded by " + list);
  }
  if (unreadable > 0)
    return report.warning(check,
                          "cannot tell: no process this account can look into holds it, and " +
                              std::to_string(unreadable) + " processes could not be looked into",
                          "run 'vorlund-ctl doctor' from a prompt opened with 'Run as "
                          "administrator' while a recording runs");
  report.warning(check, "no process holds it",
                 "the audio engine (audiodg.exe) loads it while a stream runs through an "
                 "attached microphone; start a recording and run 'doctor' again");
}
#endif

void checkDevice(Report& report, const std::u16string& keyName, const std::string& label) {
  const std::u16string fx =
      std::u16string(kCaptureEndpointsKey) + u'\\' + keyName + u"\\FxProperties";
  std::vector<RegistryValue> values;
  readRegistryValues(fx.c_str(), values);
  const EndpointState state = endpointState(keyName);
  const std::string check = "microphone " + label;
  const std::string found = "stream effect (,5) " + shown(values, kStreamEffectValue) +
                            "; composite list (,13) " + shown(values, kCompositeStreamEffectValue) +
                            "; modes " + shown(values, kStreamModesValue) + "; local effect (,1) " +
                            shown(values, kLocalEffectValue);
  if (state.detachedBySystem())
    report.problem(check, "detached by the system: " + found,
                   "run 'vorlund-ctl attach' for it again (an update rewrote its effects)");
  else if (!state.attached)
    report.problem(check, "Vorlund is not attached: " + found,
                   "run 'vorlund-ctl attach' for it as administrator");
  else
    report.ok(check, "attached: " + found);
  if (state.enhancementsOff)
    report.problem(check, "enhancements off",
                   "switch 'Audio enhancements' on in the microphone's properties (Sound "
                   "settings); while they are off Windows passes the streams by Vorlund");
}

void checkDataFolder(Report& report, const Path& folder) {
  const std::string check = "data folder " + folder.toUtf8();
  std::u16string sddl;
  const std::filesystem::path where(folder.toUtf8());
  std::error_code error;
  if (std::filesystem::is_symlink(where, error) || !std::filesystem::is_directory(where, error))
    return report.problem(check, "missing, or not a plain folder",
                          "run 'vorlund-ctl setup' as administrator (it says what is wrong)");
  if (readSecurityDescriptor(folder, sddl) != ERROR_SUCCESS || sddl.empty())
    return report.problem(check, "its access rules cannot be read",
                          "run 'vorlund-ctl setup' as administrator");
  report.ok(check, "access rules " + endpointText(sddl) +
                       (sddl == kDataFolderSddl ? " (as setup gives them)"
                                                : " (setup gives " + endpointText(kDataFolderSddl) +
                                                      "; run it again if they differ)"));
}

void checkEngineLoaded(Report& report, const Path& folder) {
  std::string last;
  for (const char* name : {"apo.old.log", "apo.log"}) {
    Path log = folder;
    log.append(name);
    std::ifstream in(std::filesystem::path(log.toUtf8()));
    for (std::string line; std::getline(in, line);)
      if (line.find("] LockForProcess:") != std::string::npos) last = line;
  }
  while (!last.empty() && (last.back() == '\r' || last.back() == '\n')) last.pop_back();
  const std::string check = "audio engine ran the effect";
  if (last.empty())
    return report.problem(
        check, "no LockForProcess line in apo.log: no stream has run through Vorlund",
        "start a recording from the microphone; if still none, check the lines above and the "
        "enhancements, then restart the audio service ('vorlund-ctl attach DEVICE "
        "--restart-audio')");
  report.ok(check, "last stream: " + last);
}

}  // namespace

ExitCode runDoctor(const CtlOptions& options, const Path& dataFolder) {
  if (!VORLUND_WINDOWS)
    throw CtlError(ExitCode::windowsOnly,
                   "'doctor' is for Windows only: it checks the registration and the "
                   "microphones' effect properties");
  Report report;
  [[maybe_unused]] const std::string dll = checkRegistration(report);
#ifdef _WIN32
  if (!dll.empty()) {
    checkSignature(report, dll);
    checkHeld(report, dll);
  }
#endif
  checkDataFolder(report, dataFolder);
  checkEngineLoaded(report, dataFolder);
  const std::optional<std::u16string> named =
      options.operands.empty() ? std::nullopt
                               : std::optional(resolveDeviceKey(options.operands[0]));
  bool any = false;
  for (const DeviceSummary& device : deviceSummaries()) {
    if (named ? endpointText(*named) != endpointText(device.keyName) : !device.touched) continue;
    checkDevice(report, device.keyName, device.label);
    any = true;
  }
  if (!any)
    report.problem("microphones",
                   options.operands.empty() ? "Vorlund is attached to none"
                                            : "no microphone " + options.operands[0],
                   "'vorlund-ctl devices' lists them; 'vorlund-ctl attach DEVICE' puts Vorlund "
                   "on one");
  std::cout << report.problems() << (report.problems() == 1 ? " problem" : " problems")
            << " found\n";
  return ExitCode::ok;
}

}  // namespace vorlund
