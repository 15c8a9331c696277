// Putting Vorlund on a capture endpoint and taking it off again, in the registry: the
// endpoint's effect properties under MMDevices\Audio\Capture\{endpoint}\FxProperties name
// the stream effects the audio engine loads. Attaching appends Vorlund's class id to the
// composite stream-effect list (never dropping another vendor's entry) and sets the single
// stream-effect value only where it is absent (in an FxProperties key that must exist: the
// endpoint keys belong to the audio service, which lets administrators set values but not
// create keys), after backing up the previous values (type and
// bytes, or their absence) once under Vorlund's own key. Detaching restores them byte for
// byte and removes the backup. Every refusal is decided before the first write, and a write
// that fails undoes the ones before it. Configuration code: allocates and blocks.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

inline constexpr char16_t kVorlundClsid[] = u"{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}";
inline constexpr char16_t kCaptureEndpointsKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture";
// Vorlund's own key; the backups live in its subkey, one per endpoint.
inline constexpr char16_t kVorlundKey[] = u"SOFTWARE\\Vorlund";
inline constexpr char16_t kEndpointBackupsKey[] = u"SOFTWARE\\Vorlund\\EndpointBackups";
// PKEY_FX_StreamEffectClsid (REG_SZ, one class id) and, since Windows 10 1803,
// PKEY_CompositeFX_StreamEffectClsid (REG_MULTI_SZ, several effects in one position).
inline constexpr char16_t kStreamEffectValue[] = u"{D04E05A6-594B-4fb6-A80D-01AF5EED7D1D},5";
inline constexpr char16_t kCompositeStreamEffectValue[] =
    u"{D04E05A6-594B-4fb6-A80D-01AF5EED7D1D},13";
// PKEY_FX_PreMixEffectClsid (REG_SZ): the legacy local effect (LFX), which the engine loads on
// endpoints whose driver brings no effects of its own.
inline constexpr char16_t kLocalEffectValue[] = u"{D04E05A6-594B-4fb6-A80D-01AF5EED7D1D},1";
// PKEY_SFX_ProcessingModes_Supported_For_Streaming (REG_MULTI_SZ): the signal-processing
// modes in which the stream effect runs. Written beside the effect where the endpoint has none:
// the default and the communications mode.
inline constexpr char16_t kStreamModesValue[] = u"{D3993A3F-99C2-4402-B5EC-A92A0367664B},5";
inline constexpr char16_t kDefaultModeGuid[] = u"{C18E2F7E-933D-4965-B7D1-1EEF228D2AF3}";
inline constexpr char16_t kCommunicationsModeGuid[] = u"{98951333-B9CD-48B1-A0A3-FF40682D73F7}";
// The layout of a backup this version writes and reads; another number is another version's.
inline constexpr unsigned kBackupFormat = 1;

class EndpointError : public std::runtime_error {
 public:
  enum class Kind {
    malformedId,         // not an endpoint id of a capture endpoint
    noSuchEndpoint,      // no key for it under MMDevices\Audio\Capture
    needsAdministrator,  // a write was refused to a process without administrator rights
    keyRefused,          // a write was refused although the process is elevated
    noEffectProperties,  // the endpoint has no FxProperties key, which Vorlund never creates
    foreignBackup,       // the backup was written by another version (or is damaged)
    unexpectedValue,     // an effect value of a type Vorlund does not know how to extend
    registry,            // any other registry failure
  };
  EndpointError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// The endpoint's key name ("{guid}") from an endpoint id as IMMDevice::GetId gives it
// ("{0.0.1.00000000}.{guid}") or from the bare "{guid}". Throws EndpointError(malformedId).
std::u16string endpointKeyName(std::string_view id);
// UTF-8 text of a registry name or value (an endpoint key name, id or a microphone's name):
// every character kept, a lone surrogate as U+FFFD.
std::string endpointText(std::u16string_view name);

// PKEY_AudioEndpoint_Disable_SysFx: 1 where "Audio enhancements" are off for the device, which
// makes the engine pass its streams by every system effect, Vorlund's too.
inline constexpr char16_t kDisableSysFxValue[] = u"{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},5";

struct EndpointState {
  bool attached = false;  // Vorlund's class id is in one of the effect values
  bool backedUp = false;  // a backup of this version exists, so 'detach' can restore
  bool enhancementsOff = false;
  // Attached once, but Vorlund is gone from the values since (a driver or Windows update
  // rewrote them).
  bool detachedBySystem() const noexcept { return backedUp && !attached; }
};

// Throws EndpointError(noSuchEndpoint) when the endpoint's key does not exist.
EndpointState endpointState(std::u16string_view keyName);
// The endpoint keys under MMDevices\Audio\Capture; empty when there is none.
std::vector<std::u16string> captureEndpointKeys();
// The endpoints with a backup under Vorlund's key.
std::vector<std::u16string> backedUpEndpoints();

enum class AttachResult { attached, alreadyAttached };
enum class DetachResult {
  restored,              // both values as they were before the first attach, byte for byte
  removedKeepingOthers,  // the values changed since attaching: only Vorlund's entry removed
  notAttached,           // no backup: nothing of ours to take off
};

// `elevated` says whether this process holds administrator rights, which decides what an
// access-denied write means. Both throw EndpointError.
// Where attaching puts Vorlund: the stream effect (with the composite list and the mode
// list), or the local effect (LFX) where the endpoint has none.
enum class EffectSlot { stream, local };
AttachResult attachToEndpoint(std::u16string_view keyName, bool elevated,
                              EffectSlot slot = EffectSlot::stream);
DetachResult detachFromEndpoint(std::u16string_view keyName, bool elevated);

}  // namespace vorlund
