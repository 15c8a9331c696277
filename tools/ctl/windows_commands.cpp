#include "windows_commands.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <optional>
#include <vector>

#include "channel/parameter_channel.h"
#include "common/control_session.h"
#include "common/endpoint_effects.h"
#include "common/json_writer.h"
#include "common/record_file.h"
#include "common/system_path.h"
#include "platform/audio_system.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/secured_folder.h"

namespace vorlund {
namespace {

constexpr char16_t kDeviceStateValue[] = u"DeviceState";
// PKEY_Device_FriendlyName, in the endpoint key's Properties subkey.
constexpr char16_t kFriendlyNameValue[] = u"{a45c254e-df1c-4efd-8020-67d146a850e0},2";
constexpr char16_t kCapturePrefix[] = u"{0.0.1.00000000}.";

void requireWindows(const CtlOptions& options) {
  if (!VORLUND_WINDOWS)
    throw CtlError(ExitCode::windowsOnly,
                   "'" + std::string(options.command->name) +
                       "' is for Windows only: it works on Windows' audio endpoints and its "
                       "registry (on Linux, Vorlund runs as the LV2 plugin instead)");
}

ExitCode exitCodeOf(EndpointError::Kind kind) {
  switch (kind) {
    case EndpointError::Kind::malformedId:
      return ExitCode::usage;
    case EndpointError::Kind::noSuchEndpoint:
      return ExitCode::noSuchDevice;
    case EndpointError::Kind::needsAdministrator:
      return ExitCode::needsAdministrator;
    case EndpointError::Kind::keyRefused:
    case EndpointError::Kind::noEffectProperties:
      return ExitCode::keyRefused;
    case EndpointError::Kind::foreignBackup:
      return ExitCode::foreignBackup;
    case EndpointError::Kind::unexpectedValue:
    case EndpointError::Kind::registry:
      break;
  }
  return ExitCode::ioFailure;
}

struct Device {
  std::u16string keyName;  // "{guid}" under MMDevices\Audio\Capture
  std::string id;
  std::string name;
  std::string state;
  bool reported = false;  // by IMMDeviceEnumerator, not only by its registry key
  EndpointState effects;
};

std::string stateText(DWORD state) {
  switch (state & 0xF) {
    case kEndpointActive:
      return "active";
    case kEndpointDisabled:
      return "disabled";
    case kEndpointNotPresent:
      return "not present";
    case kEndpointUnplugged:
      return "unplugged";
  }
  return "unknown";
}

// Registry key names and endpoint ids compare as Windows compares key names: without case.
bool sameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) ==
           std::toupper(static_cast<unsigned char>(y));
  });
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The value `name` of the key, compared without case; null when absent.
const RegistryValue* findValue(const std::vector<RegistryValue>& values, std::u16string_view name) {
  for (const RegistryValue& v : values)
    if (sameName(endpointText(v.name), endpointText(name))) return &v;
  return nullptr;
}

// The endpoints Windows reports and those only the registry knows (Windows reports none
// while no audio driver or sound server runs; the registry keys are what attaching changes),
// each once, by name and then id, so that numbers stay as they were between two runs.
std::vector<Device> listDevices() {
  std::vector<Device> devices;
  std::vector<CaptureEndpoint> endpoints;
  listCaptureEndpoints(endpoints);
  for (const CaptureEndpoint& endpoint : endpoints) {
    Device device;
    device.id = endpointText(endpoint.id);
    device.name = endpoint.friendlyName.empty() ? "(no name)" : endpointText(endpoint.friendlyName);
    device.state = stateText(endpoint.state);
    device.reported = true;
    try {
      device.keyName = endpointKeyName(device.id);
    } catch (const EndpointError&) {
    }
    devices.push_back(device);
  }
  for (const std::u16string& key : captureEndpointKeys()) {
    const bool known = std::any_of(devices.begin(), devices.end(), [&](const Device& d) {
      return sameName(endpointText(d.keyName), endpointText(key));
    });
    if (known) continue;
    Device device;
    device.keyName = key;
    device.id = endpointText(kCapturePrefix + key);
    device.name = "(not reported by Windows)";
    std::vector<RegistryValue> values;
    const std::u16string path = std::u16string(kCaptureEndpointsKey) + u'\\' + key;
    device.state = "unknown";
    if (readRegistryValues(path.c_str(), values) == ERROR_SUCCESS)
      if (const RegistryValue* v = findValue(values, kDeviceStateValue); v && v->type == REG_DWORD)
        device.state = stateText(v->number());
    values.clear();
    if (readRegistryValues((path + u"\\Properties").c_str(), values) == ERROR_SUCCESS)
      if (const RegistryValue* v = findValue(values, kFriendlyNameValue);
          v && v->type == REG_SZ && !v->text().empty())
        device.name = endpointText(v->text());
    devices.push_back(device);
  }
  std::stable_sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
    const std::string x = upper(a.name), y = upper(b.name);
    return x != y ? x < y : upper(a.id) < upper(b.id);
  });
  for (Device& device : devices) {
    if (device.keyName.empty()) continue;
    try {
      device.effects = endpointState(device.keyName);
    } catch (const EndpointError&) {
    }
  }
  return devices;
}

// DEVICE as 'attach' and 'detach' take it: a number from 'devices', 'default', or an id.
std::u16string resolveDevice(const std::string& device) {
  if (device == "default") {
    std::u16string id;
    if (const DWORD error = defaultCaptureEndpoint(id))
      throw CtlError(ExitCode::noSuchDevice,
                     "Windows names no default microphone (error " + std::to_string(error) +
                         "); 'vorlund-ctl devices' lists the endpoints to choose from");
    return endpointKeyName(endpointText(id));
  }
  if (!device.empty() && device.size() <= 4 &&
      std::all_of(device.begin(), device.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const std::vector<Device> devices = listDevices();
    const std::size_t number = std::stoul(device);
    if (number == 0 || number > devices.size() || devices[number - 1].keyName.empty())
      throw CtlError(ExitCode::noSuchDevice, "there is no microphone number " + device +
                                                 " ('vorlund-ctl devices' lists " +
                                                 std::to_string(devices.size()) + ")");
    return devices[number - 1].keyName;
  }
  return endpointKeyName(device);
}

// The device as messages name it: "USB Headset Mic ({0.0.1.00000000}.{...})".
std::string deviceLabel(std::u16string_view keyName) {
  const std::string key = endpointText(keyName);
  for (const Device& d : listDevices())
    if (sameName(endpointText(d.keyName), key)) return d.name + " (" + d.id + ")";
  return key;
}

void applyNote(const CtlOptions& options) {
  if (!options.restartAudio) {
    std::cout << "the change applies when the microphone's streams restart (close and reopen "
                 "the programs using it, or run again with --restart-audio)\n";
    return;
  }
  std::cout << "restarting the Windows Audio service...\n";
  if (const DWORD error = restartAudioService())
    throw CtlError(
        error == ERROR_ACCESS_DENIED ? ExitCode::needsAdministrator : ExitCode::ioFailure,
        "the Windows Audio service could not be restarted (error " + std::to_string(error) +
            "); the change applies when the microphone's streams restart");
  std::cout << "the Windows Audio service restarted: the change applies now\n";
}

// The endpoint error as the command's error, keeping its message.
template <typename Action>
auto onEndpoint(Action action) {
  try {
    return action();
  } catch (const EndpointError& error) {
    throw CtlError(exitCodeOf(error.kind()), error.what());
  }
}

// A file created at its full size where it is missing; an existing one is kept as it is.
void createMissingFile(const Path& folder, std::string_view name, const std::string& content) {
  Path path = folder;
  path.append(name);
  std::uint64_t size = 0;
  if (queryFileSize(path, size)) {
    std::cout << "kept     " << path.toUtf8() << " (" << size << " bytes)\n";
    return;
  }
  std::ofstream out(toFilesystemPath(path), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw CtlError(ExitCode::ioFailure, "cannot create " + path.toUtf8());
  std::cout << "created  " << path.toUtf8() << " (" << content.size() << " bytes)\n";
}

// DEVICE, or several separated by commas (the installer's /ATTACH= and its page), or 'all'.
std::vector<std::string> deviceNames(const CtlOptions& options) {
  std::vector<std::string> names;
  for (const std::string& operand : options.operands)
    for (std::size_t start = 0; start <= operand.size();) {
      const std::size_t end = std::min(operand.find(',', start), operand.size());
      if (end > start) names.push_back(operand.substr(start, end - start));
      start = end + 1;
    }
  return names;
}

}  // namespace

ExitCode runDevices(const CtlOptions& options) {
  requireWindows(options);
  const std::vector<Device> devices = onEndpoint(listDevices);
  if (options.json) {
    JsonWriter json;
    json.beginArray();
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const Device& d = devices[i];
      json.beginObject();
      json.key("number").integer(static_cast<std::int64_t>(i + 1));
      json.key("name").string(d.name);
      json.key("id").string(d.id);
      json.key("state").string(d.state);
      json.key("reportedByWindows").boolean(d.reported);
      json.key("attached").boolean(d.effects.attached);
      json.key("detachedBySystem").boolean(d.effects.detachedBySystem());
      json.key("enhancementsOff").boolean(d.effects.enhancementsOff);
      json.endObject();
    }
    json.endArray();
    std::cout << json.text() << "\n";
    return ExitCode::ok;
  }
  if (options.lines) {
    // Names are a user's text: tabs and line breaks in them would split the record.
    std::u16string defaultId;
    const bool hasDefault = defaultCaptureEndpoint(defaultId) == 0;
    std::string text;
    for (const Device& d : devices) {
      if (d.keyName.empty()) continue;
      std::string name = d.name;
      std::replace_if(
          name.begin(), name.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; },
          ' ');
      const bool isDefault = hasDefault && sameName(endpointText(defaultId), d.id);
      text += std::string(d.effects.attached ? "1" : "0") + '\t' + (isDefault ? "1" : "0") + '\t' +
              d.id + '\t' + name + '\n';
    }
    // Names keep every character for the installer, which reads this as UTF-16.
    writeOutputForPrograms(text);
    return ExitCode::ok;
  }
  if (devices.empty()) {
    std::cout << "no capture endpoints: Windows reports no microphone\n";
    return ExitCode::ok;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const Device& d = devices[i];
    std::cout << (i + 1) << "  " << d.name << "  [" << d.state << "]"
              << (d.effects.attached ? "  Vorlund attached" : "")
              << (d.effects.detachedBySystem()
                      ? "  Vorlund detached by the system (run 'vorlund-ctl attach' again)"
                      : "")
              << (d.effects.enhancementsOff ? "  enhancements off" : "") << "\n   " << d.id << "\n";
  }
  return ExitCode::ok;
}

ExitCode runAttach(const CtlOptions& options) {
  requireWindows(options);
  const std::vector<std::string> names = deviceNames(options);
  if (names.empty()) throw CtlError(ExitCode::usage, "attach: no microphone named");
  std::vector<std::u16string> endpoints;
  if (std::find(names.begin(), names.end(), "all") != names.end()) {
    for (const Device& device : onEndpoint(listDevices))
      if (!device.keyName.empty()) endpoints.push_back(device.keyName);
  } else {
    for (const std::string& name : names)
      endpoints.push_back(onEndpoint([&] { return resolveDevice(name); }));
  }
  const EffectSlot slot = options.localSlot ? EffectSlot::local : EffectSlot::stream;
  const bool elevated = processIsElevated();
  std::optional<ExitCode> failure;
  std::size_t failed = 0;
  bool changed = false;
  for (const std::u16string& endpoint : endpoints) {
    const std::string text = deviceLabel(endpoint);
    try {
      if (attachToEndpoint(endpoint, elevated, slot) == AttachResult::alreadyAttached) {
        std::cout << "Vorlund is already attached to " << text << ": nothing changed\n";
        continue;
      }
      std::cout << "attached Vorlund to " << text
                << " (the previous effect values are backed up for 'detach')\n";
      if (endpointState(endpoint).enhancementsOff)
        std::cerr << "vorlund-ctl: warning: audio enhancements are off for " << text
                  << ", so Windows passes its streams by Vorlund; switch them on in the "
                     "microphone's properties (Sound settings)\n";
      changed = true;
    } catch (const EndpointError& error) {
      // One microphone refused does not keep the others from being attached.
      if (endpoints.size() == 1) throw CtlError(exitCodeOf(error.kind()), error.what());
      std::cerr << "vorlund-ctl: " << error.what() << "\n";
      if (!failure) failure = exitCodeOf(error.kind());
      ++failed;
    }
  }
  if (changed) applyNote(options);
  if (failure)
    throw CtlError(*failure, std::to_string(failed) + " of " + std::to_string(endpoints.size()) +
                                 " microphones could not be attached (see above)");
  return ExitCode::ok;
}

ExitCode runDetach(const CtlOptions& options) {
  requireWindows(options);
  return onEndpoint([&] {
    const bool elevated = processIsElevated();
    std::vector<std::u16string> endpoints;
    if (options.all) {
      endpoints = backedUpEndpoints();
      if (endpoints.empty()) {
        std::cout << "Vorlund is attached to no endpoint: nothing changed\n";
        return ExitCode::ok;
      }
    } else {
      for (const std::string& name : deviceNames(options)) endpoints.push_back(resolveDevice(name));
    }
    bool changed = false;
    for (const std::u16string& endpoint : endpoints) {
      const std::string text = deviceLabel(endpoint);
      try {
        switch (detachFromEndpoint(endpoint, elevated)) {
          case DetachResult::restored:
            std::cout << "detached Vorlund from " << text << ": its effect values are restored\n";
            changed = true;
            break;
          case DetachResult::removedKeepingOthers:
            std::cout << "detached Vorlund from " << text
                      << ": its effect values changed since attaching, so only Vorlund's entry "
                         "was removed\n";
            changed = true;
            break;
          case DetachResult::notAttached:
            std::cout << "Vorlund was not attached to " << text << " by vorlund-ctl: nothing "
                      << "changed\n";
            break;
        }
      } catch (const EndpointError& error) {
        // One endpoint gone does not keep the others attached; its backup stays.
        if (!options.all || error.kind() != EndpointError::Kind::noSuchEndpoint) throw;
        std::cerr << "vorlund-ctl: warning: " << error.what()
                  << "; its backup stays for when it returns\n";
      }
    }
    if (changed) applyNote(options);
    return ExitCode::ok;
  });
}

ExitCode runSetup(const Path& dataFolder) {
  if (!VORLUND_WINDOWS)
    throw CtlError(ExitCode::windowsOnly,
                   "'setup' is for Windows only: on Linux the data folder is an ordinary folder "
                   "(create it with mkdir)");
  Path refused;
  const DWORD error = createSecuredFolder(dataFolder, kDataFolderSddl, refused);
  if (error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD)
    throw CtlError(ExitCode::needsAdministrator,
                   "setting up " + dataFolder.toUtf8() +
                       " needs administrator rights; run vorlund-ctl from a prompt opened with "
                       "'Run as administrator'");
  // The effect and the uninstaller, both with rights the person placing a link may lack, would
  // act on whatever it leads to: such a folder is never used.
  const std::string where = refused.toUtf8();
  if (error == kErrorReparsePoint && where == dataFolder.toUtf8())
    throw CtlError(ExitCode::ioFailure, where +
                                            " is a link (junction or symbolic link), not a folder; "
                                            "remove the link and run setup again");
  if (error == kErrorReparsePoint || error == ERROR_TOO_MANY_LINKS)
    throw CtlError(ExitCode::ioFailure,
                   dataFolder.toUtf8() + " holds " + where +
                       (error == ERROR_TOO_MANY_LINKS ? ", a file with another name elsewhere"
                                                      : ", a link (junction or symbolic link)") +
                       ", which Vorlund did not make; remove it, or the whole folder, and run "
                       "setup again");
  if (error != ERROR_SUCCESS)
    throw CtlError(ExitCode::ioFailure, "cannot set up " + dataFolder.toUtf8() + " (error " +
                                            std::to_string(error) + ")");
  std::cout << "data folder " << dataFolder.toUtf8() << ": owner and access rules set\n";

  ParameterBlock record;
  setDefaults(record);
  std::string shared(ParameterChannel::kSharedFileBytes, '\0');
  SharedBlock block{};
  initialiseBlock(block, record);
  std::copy_n(reinterpret_cast<const char*>(&block), sizeof block, shared.begin());
  createMissingFile(dataFolder, "shared.bin", shared);
  createMissingFile(dataFolder, "params.bin",
                    std::string(reinterpret_cast<const char*>(&record), sizeof record));
  createMissingFile(dataFolder, "apo.log", std::string());
  // Made here with its own rules, as writers who may not add files to the folder need it.
  Path lock = dataFolder;
  lock.append("ctl.lock");
  bool created = false;
  if (const DWORD lockError = createSecuredFile(lock, kWritersLockSddl, created))
    throw CtlError(ExitCode::ioFailure,
                   "cannot set up " + lock.toUtf8() + " (error " + std::to_string(lockError) + ")");
  std::cout << (created ? "created  " : "secured  ") << lock.toUtf8() << "\n";
  return ExitCode::ok;
}

ExitCode runPath(const CtlOptions& options) {
  requireWindows(options);
  const std::string& action = options.operands[0];
  if (action != "add" && action != "remove")
    throw CtlError(ExitCode::usage, "'path' takes 'add' or 'remove', not '" + action + "'");
  char16_t program[Path::kCapacity];
  DWORD error = ERROR_SUCCESS;
  const std::uint32_t n = moduleFileName(program, Path::kCapacity, error);
  if (n == 0 || n >= Path::kCapacity)
    throw CtlError(ExitCode::ioFailure,
                   "cannot tell where vorlund-ctl is (error " + std::to_string(error) + ")");
  std::u16string folder(program, n);
  folder.erase(std::min(folder.size(), folder.find_last_of(u'\\')));
  bool changed = false;
  error =
      action == "add" ? addToSystemPath(folder, changed) : removeFromSystemPath(folder, changed);
  if (error == ERROR_ACCESS_DENIED)
    throw CtlError(ExitCode::needsAdministrator,
                   "changing the system PATH needs administrator rights; run vorlund-ctl from "
                   "a prompt opened with 'Run as administrator'");
  if (error != ERROR_SUCCESS)
    throw CtlError(ExitCode::ioFailure,
                   "cannot change the system PATH (error " + std::to_string(error) + ")");
  const std::string text = endpointText(folder);
  if (!changed) {
    std::cout << text << (action == "add" ? " is on" : " is not on")
              << " the system PATH: nothing changed\n";
    return ExitCode::ok;
  }
  announceEnvironmentChange();
  std::cout << (action == "add" ? "added " : "removed ") << text
            << (action == "add" ? " to" : " from")
            << " the system PATH (programs started from now on see it)\n";
  return ExitCode::ok;
}

std::vector<DeviceSummary> deviceSummaries() {
  std::vector<DeviceSummary> out;
  for (const Device& d : onEndpoint(listDevices))
    if (!d.keyName.empty())
      out.push_back(
          {d.keyName, d.name + " (" + d.id + ")", d.effects.attached || d.effects.backedUp});
  return out;
}

std::u16string resolveDeviceKey(const std::string& device) {
  return onEndpoint([&] { return resolveDevice(device); });
}

}  // namespace vorlund
