#include "common/endpoint_effects.h"

#include <algorithm>
#include <optional>

#include "platform/registry.h"

namespace vorlund {
namespace {

using Kind = EndpointError::Kind;

constexpr char16_t kFormatValue[] = u"Format";
constexpr char16_t kFxExistedValue[] = u"FxPropertiesExisted";
// 1 where attaching wrote the mode list (a backup without it predates the list).
constexpr char16_t kModesWrittenValue[] = u"ModesWritten";
// 1 where attaching set the local effect (LFX).
constexpr char16_t kLocalWrittenValue[] = u"LocalEffectWritten";
constexpr std::u16string_view kCapturePrefix = u"{0.0.1.00000000}.";

bool isHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
bool isBracedGuid(std::u16string_view text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != u'-' : !isHex(text[i])) return false;
  }
  return true;
}

bool sameText(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

std::u16string endpointKey(std::u16string_view name) {
  return std::u16string(kCaptureEndpointsKey) + u'\\' + std::u16string(name);
}
std::u16string fxKey(std::u16string_view name) {
  return endpointKey(name) + u"\\FxProperties";
}
std::u16string backupKey(std::u16string_view name) {
  return std::u16string(kEndpointBackupsKey) + u'\\' + std::u16string(name);
}

std::optional<RegistryValue> findValue(const std::vector<RegistryValue>& values,
                                       std::u16string_view name) {
  for (const RegistryValue& v : values)
    if (sameText(v.name, name)) return v;
  return std::nullopt;
}

// The values of a key; nullopt when the key does not exist.
std::optional<std::vector<RegistryValue>> readKey(const std::u16string& key) {
  std::vector<RegistryValue> values;
  const DWORD error = readRegistryValues(key.c_str(), values);
  if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (error != ERROR_SUCCESS)
    throw EndpointError(Kind::registry, "reading HKLM\\" + endpointText(key) + " failed (error " +
                                            std::to_string(error) + ")");
  return values;
}

bool holdsVorlund(const std::optional<RegistryValue>& value) {
  if (!value) return false;
  if (value->type == REG_SZ) return sameText(value->text(), kVorlundClsid);
  if (value->type != REG_MULTI_SZ) return false;
  const std::vector<std::u16string> list = value->strings();
  return std::any_of(list.begin(), list.end(),
                     [](const std::u16string& s) { return sameText(s, kVorlundClsid); });
}

// What attaching found before its first change.
struct Backup {
  bool fxExisted = false;
  bool modesWritten = false;
  bool localWritten = false;
  std::optional<RegistryValue> single;
  std::optional<RegistryValue> composite;
};

std::optional<Backup> readBackup(std::u16string_view name) {
  const std::optional<std::vector<RegistryValue>> values = readKey(backupKey(name));
  if (!values) return std::nullopt;
  const std::optional<RegistryValue> format = findValue(*values, kFormatValue);
  const std::optional<RegistryValue> existed = findValue(*values, kFxExistedValue);
  if (!format || format->type != REG_DWORD || format->data.size() != 4 ||
      format->number() != kBackupFormat || !existed || existed->type != REG_DWORD)
    throw EndpointError(
        Kind::foreignBackup,
        "the backup of endpoint " + endpointText(name) + " under HKLM\\" +
            endpointText(kEndpointBackupsKey) + " was written by another version of Vorlund (" +
            (format && format->type == REG_DWORD ? "format " + std::to_string(format->number())
                                                 : std::string("no format this version knows")) +
            ", this version writes " + std::to_string(kBackupFormat) +
            "); nothing was changed: use that version's vorlund-ctl to detach");
  const auto flag = [&](const char16_t* flagName) {
    const std::optional<RegistryValue> v = findValue(*values, flagName);
    return v && v->type == REG_DWORD && v->number() == 1;
  };
  return Backup{existed->number() != 0, flag(kModesWrittenValue), flag(kLocalWrittenValue),
                findValue(*values, kStreamEffectValue),
                findValue(*values, kCompositeStreamEffectValue)};
}

[[noreturn]] void refuse(DWORD error, bool elevated, const std::u16string& key,
                         std::string_view undone) {
  const std::string where = "HKLM\\" + endpointText(key);
  if (error == ERROR_ACCESS_DENIED && !elevated)
    throw EndpointError(Kind::needsAdministrator,
                        "writing " + where +
                            " needs administrator rights; run vorlund-ctl from "
                            "a prompt opened with 'Run as administrator'" +
                            std::string(undone));
  if (error == ERROR_ACCESS_DENIED)
    throw EndpointError(
        Kind::keyRefused,
        where +
            " refuses writes even to administrators (its permissions belong to the audio "
            "service)" +
            std::string(undone) +
            "; see 'Install on Windows' in the README for what you can do (Vorlund never takes "
            "ownership of the key itself)");
  throw EndpointError(Kind::registry, "writing " + where + " failed (error " +
                                          std::to_string(error) + ")" + std::string(undone));
}

// Writes a value as it was (type and bytes) or deletes it where it was absent.
DWORD putBack(RegistryKey& key, const char16_t* name, const std::optional<RegistryValue>& value) {
  if (value) return key.setValue(name, value->type, value->data);
  const DWORD error = key.deleteValue(name);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

DWORD writeBackup(std::u16string_view name, const Backup& backup) {
  RegistryKey key;
  DWORD error = key.create(backupKey(name).c_str());
  if (error == ERROR_SUCCESS) error = key.setDword(kFormatValue, kBackupFormat);
  if (error == ERROR_SUCCESS) error = key.setDword(kFxExistedValue, backup.fxExisted ? 1 : 0);
  if (error == ERROR_SUCCESS && backup.modesWritten) error = key.setDword(kModesWrittenValue, 1);
  if (error == ERROR_SUCCESS && backup.localWritten) error = key.setDword(kLocalWrittenValue, 1);
  if (error == ERROR_SUCCESS && backup.single)
    error = key.setValue(kStreamEffectValue, backup.single->type, backup.single->data);
  if (error == ERROR_SUCCESS && backup.composite)
    error =
        key.setValue(kCompositeStreamEffectValue, backup.composite->type, backup.composite->data);
  return error;
}

bool keyIsEmpty(const std::u16string& key) {
  std::vector<RegistryValue> values;
  std::vector<std::u16string> subkeys;
  return readRegistryValues(key.c_str(), values) == ERROR_SUCCESS && values.empty() &&
         readRegistrySubkeys(key.c_str(), subkeys) == ERROR_SUCCESS && subkeys.empty();
}

// Vorlund's own keys go once they hold nothing.
void pruneVorlundKeys() {
  for (const char16_t* key : {kEndpointBackupsKey, kVorlundKey})
    if (keyIsEmpty(key)) deleteRegistryTree(key);
}

// The composite list attaching writes: the one there with Vorlund appended. Where there is
// none, the single value's effect comes first, so an engine that reads the composite list in
// preference to the single value still loads the effect that was there.
std::vector<std::u16string> listWithVorlund(const Backup& before) {
  std::vector<std::u16string> list;
  if (before.composite) {
    list = before.composite->strings();
  } else if (before.single && before.single->type == REG_SZ && !before.single->text().empty()) {
    list.push_back(before.single->text());
  }
  list.push_back(kVorlundClsid);
  return list;
}

std::vector<std::uint8_t> vorlundModes() {
  const std::u16string modes[] = {kDefaultModeGuid, kCommunicationsModeGuid};
  return multiStringData(modes);
}

}  // namespace

std::string endpointText(std::u16string_view name) {
  std::string out;
  out.reserve(name.size());
  const auto put = [&out](unsigned byte) { out.push_back(static_cast<char>(byte)); };
  for (std::size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string endpointKeyName(std::string_view id) {
  std::u16string text(id.begin(), id.end());
  if (std::any_of(id.begin(), id.end(), [](char c) { return (c & 0x80) != 0; })) text.clear();
  std::u16string_view guid = text;
  if (guid.size() > kCapturePrefix.size() &&
      sameText(guid.substr(0, kCapturePrefix.size()), kCapturePrefix))
    guid.remove_prefix(kCapturePrefix.size());
  if (!isBracedGuid(guid))
    throw EndpointError(Kind::malformedId,
                        "'" + std::string(id) +
                            "' is not a capture endpoint id: one looks like "
                            "{0.0.1.00000000}.{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx} (or just the "
                            "part in the second braces); 'vorlund-ctl devices' lists them");
  return std::u16string(guid);
}

std::vector<std::u16string> captureEndpointKeys() {
  std::vector<std::u16string> names;
  readRegistrySubkeys(kCaptureEndpointsKey, names);
  std::erase_if(names, [](const std::u16string& n) { return !isBracedGuid(n); });
  return names;
}

std::vector<std::u16string> backedUpEndpoints() {
  std::vector<std::u16string> names;
  readRegistrySubkeys(kEndpointBackupsKey, names);
  return names;
}

EndpointState endpointState(std::u16string_view keyName) {
  if (!readKey(endpointKey(keyName)))
    throw EndpointError(Kind::noSuchEndpoint, "there is no capture endpoint " +
                                                  endpointText(keyName) + " (no key under HKLM\\" +
                                                  endpointText(kCaptureEndpointsKey) + ")");
  EndpointState state;
  if (const auto fx = readKey(fxKey(keyName))) {
    state.attached = holdsVorlund(findValue(*fx, kStreamEffectValue)) ||
                     holdsVorlund(findValue(*fx, kCompositeStreamEffectValue)) ||
                     holdsVorlund(findValue(*fx, kLocalEffectValue));
    const std::optional<RegistryValue> off = findValue(*fx, kDisableSysFxValue);
    state.enhancementsOff = off && off->type == REG_DWORD && off->number() == 1;
  }
  state.backedUp = readBackup(keyName).has_value();
  return state;
}

AttachResult attachToEndpoint(std::u16string_view keyName, bool elevated, EffectSlot slot) {
  const std::u16string name(keyName);
  endpointState(name);  // the endpoint exists, and any backup is this version's
  const std::optional<Backup> backup = readBackup(name);
  const std::u16string fx = fxKey(name);
  const std::optional<std::vector<RegistryValue>> fxValues = readKey(fx);
  Backup before;
  before.fxExisted = fxValues.has_value();
  if (fxValues) {
    before.single = findValue(*fxValues, kStreamEffectValue);
    before.composite = findValue(*fxValues, kCompositeStreamEffectValue);
  }
  if (before.composite && before.composite->type != REG_MULTI_SZ)
    throw EndpointError(Kind::unexpectedValue,
                        "the composite stream-effect value of endpoint " + endpointText(name) +
                            " has type " + std::to_string(before.composite->type) +
                            " where a list (REG_MULTI_SZ) belongs; nothing was changed");
  const bool stream = slot == EffectSlot::stream;
  const bool listed = !stream || holdsVorlund(before.composite);
  const bool setSingle = stream && !before.single.has_value();
  const bool setModes = stream && fxValues && !findValue(*fxValues, kStreamModesValue);
  const std::optional<RegistryValue> local =
      fxValues ? findValue(*fxValues, kLocalEffectValue) : std::nullopt;
  if (!stream && local && !holdsVorlund(local))
    throw EndpointError(Kind::unexpectedValue,
                        "endpoint " + endpointText(name) +
                            " has a local effect (LFX) of its own, which Vorlund does not "
                            "replace; nothing was changed: attach without --slot lfx");
  const bool setLocal = !stream && !local;
  if (listed && !setSingle && !setModes && !setLocal) return AttachResult::alreadyAttached;
  before.modesWritten = setModes;
  before.localWritten = setLocal;

  if (!before.fxExisted)
    throw EndpointError(
        Kind::noEffectProperties,
        "endpoint " + endpointText(name) + " has no effect properties (no key HKLM\\" +
            endpointText(fx) +
            "), and Windows lets only the audio service create one; nothing was changed. An "
            "administrator can give the Administrators group Full Control of the endpoint's "
            "key in regedit, create FxProperties there and run attach again (see 'Install on "
            "Windows' in the README)");

  // The first write decides whether this process may write the endpoint's effects at all.
  RegistryKey key;
  DWORD error = key.open(fx.c_str());
  if (error != ERROR_SUCCESS) refuse(error, elevated, fx, "; nothing was changed");

  const bool newBackup = !backup.has_value();
  auto undo = [&] {
    putBack(key, kCompositeStreamEffectValue, before.composite);
    putBack(key, kStreamEffectValue, before.single);
    if (setModes) putBack(key, kStreamModesValue, std::nullopt);
    if (setLocal) putBack(key, kLocalEffectValue, std::nullopt);
    key.close();
    if (newBackup) deleteRegistryTree(backupKey(name).c_str());
    if (!before.fxExisted) deleteRegistryTree(fx.c_str());
    pruneVorlundKeys();
  };
  if (newBackup || setModes || setLocal) {
    // An earlier attach's backup learns what is now Vorlund's to remove.
    RegistryKey backupWriter;
    error = newBackup ? writeBackup(name, before) : backupWriter.create(backupKey(name).c_str());
    if (error == ERROR_SUCCESS && !newBackup)
      error = backupWriter.setDword(setModes ? kModesWrittenValue : kLocalWrittenValue, 1);
    if (error != ERROR_SUCCESS) {
      undo();
      refuse(error, elevated, backupKey(name), "; nothing was changed");
    }
  }
  if (!listed)
    error = key.setValue(kCompositeStreamEffectValue, REG_MULTI_SZ,
                         multiStringData(listWithVorlund(before)));
  if (error == ERROR_SUCCESS && setSingle)
    error = key.setValue(kStreamEffectValue, REG_SZ, stringData(kVorlundClsid));
  if (error == ERROR_SUCCESS && setModes)
    error = key.setValue(kStreamModesValue, REG_MULTI_SZ, vorlundModes());
  if (error == ERROR_SUCCESS && setLocal)
    error = key.setValue(kLocalEffectValue, REG_SZ, stringData(kVorlundClsid));
  if (error != ERROR_SUCCESS) {
    undo();
    refuse(error, elevated, fx, "; what was written is undone");
  }
  return AttachResult::attached;
}

DetachResult detachFromEndpoint(std::u16string_view keyName, bool elevated) {
  const std::u16string name(keyName);
  endpointState(name);
  const std::optional<Backup> backup = readBackup(name);
  if (!backup) return DetachResult::notAttached;
  const std::u16string fx = fxKey(name);
  const std::optional<std::vector<RegistryValue>> fxValues = readKey(fx);

  DetachResult result = DetachResult::restored;
  if (fxValues) {
    const std::optional<RegistryValue> single = findValue(*fxValues, kStreamEffectValue);
    const std::optional<RegistryValue> composite =
        findValue(*fxValues, kCompositeStreamEffectValue);
    RegistryKey key;
    DWORD error = key.open(fx.c_str());
    if (error != ERROR_SUCCESS) refuse(error, elevated, fx, "; nothing was changed");

    // The list as attaching left it goes back to the backup; a list changed since (a driver
    // update, another tool) loses only Vorlund's entry.
    if (holdsVorlund(composite) && composite->type == REG_MULTI_SZ) {
      const std::vector<std::uint8_t> attachedList = multiStringData(listWithVorlund(*backup));
      if (composite->data == attachedList) {
        error = putBack(key, kCompositeStreamEffectValue, backup->composite);
      } else {
        result = DetachResult::removedKeepingOthers;
        std::vector<std::u16string> others = composite->strings();
        std::erase_if(others, [](const std::u16string& s) { return sameText(s, kVorlundClsid); });
        error =
            others.empty() && !backup->composite
                ? putBack(key, kCompositeStreamEffectValue, std::nullopt)
                : key.setValue(kCompositeStreamEffectValue, REG_MULTI_SZ, multiStringData(others));
      }
    }
    // The single value is Vorlund's only where attaching set it.
    if (error == ERROR_SUCCESS && holdsVorlund(single) && !backup->single)
      error = putBack(key, kStreamEffectValue, std::nullopt);
    // So is the mode list, while it is as attaching wrote it.
    const std::optional<RegistryValue> modes = findValue(*fxValues, kStreamModesValue);
    if (error == ERROR_SUCCESS && backup->modesWritten && modes && modes->type == REG_MULTI_SZ &&
        modes->data == vorlundModes())
      error = putBack(key, kStreamModesValue, std::nullopt);
    const std::optional<RegistryValue> local = findValue(*fxValues, kLocalEffectValue);
    if (error == ERROR_SUCCESS && backup->localWritten && holdsVorlund(local))
      error = putBack(key, kLocalEffectValue, std::nullopt);
    if (error != ERROR_SUCCESS)
      refuse(error, elevated, fx, "; the backup is kept, so 'detach' can be run again");
    key.close();
    if (!backup->fxExisted && keyIsEmpty(fx)) deleteRegistryTree(fx.c_str());
  } else if (backup->fxExisted) {
    // The properties went away since attaching (a driver reinstalled): nothing of ours is
    // left, and bringing back what the driver removed is not ours to do.
    result = DetachResult::removedKeepingOthers;
  }
  deleteRegistryTree(backupKey(name).c_str());
  pruneVorlundKeys();
  return result;
}

}  // namespace vorlund
