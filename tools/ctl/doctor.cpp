#include "doctor.h"

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

void checkRegistration(Report& report) {
  const std::u16string key =
      u"Software\\Classes\\CLSID\\" + std::u16string(kVorlundClsid) + u"\\InprocServer32";
  std::vector<RegistryValue> values;
  const std::string check = "DLL registered (64-bit view)";
  const std::string todo =
      "run the installer again, or 'regsvr32 \"C:\\Program Files\\Vorlund\\VorlundApo.dll\"' "
      "from a prompt opened with 'Run as administrator'";
  if (readRegistryValues(key.c_str(), values) != ERROR_SUCCESS)
    return report.problem(check, "no class " + endpointText(kVorlundClsid), todo);
  const std::string path = shown(values, u"");
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::path(path), error))
    return report.problem(check, "registered as " + path + ", which is not there", todo);
  report.ok(check, path);
}

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
  checkRegistration(report);
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
