#include "common/endpoint_effects.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ctl_harness.h"
#include "platform/registry.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

using Kind = EndpointError::Kind;

constexpr char16_t kOtherVendorA[] = u"{AAAAAAAA-1111-2222-3333-444444444444}";
constexpr char16_t kOtherVendorB[] = u"{BBBBBBBB-1111-2222-3333-444444444444}";
constexpr char16_t kLaterVendor[] = u"{CCCCCCCC-1111-2222-3333-444444444444}";

// An endpoint of this process's own, so runs in one registry never meet.
std::u16string fakeEndpoint() {
  std::string pid = std::to_string(currentProcessId() % 100000000);
  pid.insert(0, 8 - pid.size(), '0');
  return std::u16string(u"{") + std::u16string(pid.begin(), pid.end()) +
         u"-0000-4000-8000-00000000F00D}";
}

std::u16string endpointPath(const std::u16string& name) {
  return std::u16string(kCaptureEndpointsKey) + u'\\' + name;
}

// Every key below `root` with its values (name, type, bytes), keyed by folded path.
using Tree =
    std::map<std::u16string, std::map<std::u16string, std::pair<DWORD, std::vector<std::uint8_t>>>>;
void dump(const std::u16string& root, Tree& tree) {
  std::vector<RegistryValue> values;
  if (readRegistryValues(root.c_str(), values) != ERROR_SUCCESS) return;
  auto& key = tree[root];
  for (const RegistryValue& v : values) key[v.name] = {v.type, v.data};
  std::vector<std::u16string> subkeys;
  readRegistrySubkeys(root.c_str(), subkeys);
  for (const std::u16string& sub : subkeys) dump(root + u'\\' + sub, tree);
}

// What attaching and detaching may touch: the endpoint and Vorlund's own key.
Tree snapshot(const std::u16string& endpoint) {
  Tree tree;
  dump(endpointPath(endpoint), tree);
  dump(kVorlundKey, tree);
  return tree;
}

RegistryValue valueOf(const std::u16string& key, std::u16string_view name) {
  std::vector<RegistryValue> values;
  readRegistryValues(key.c_str(), values);
  for (const RegistryValue& v : values)
    if (v.name == name) return v;
  return {};
}

// A capture endpoint whose effect properties another vendor wrote: a composite list of two
// effects, its single stream effect, and a value of another kind beside them.
void makeEndpoint(const std::u16string& name, bool withEffects) {
  deleteRegistryTree(endpointPath(name).c_str());
  RegistryKey key;
  ASSERT_EQ(0u, key.create(endpointPath(name).c_str()));
  ASSERT_EQ(0u, key.setDword(u"DeviceState", 1));
  if (!withEffects) return;
  ASSERT_EQ(0u, key.create((endpointPath(name) + u"\\FxProperties").c_str()));
  const std::vector<std::u16string> list = {kOtherVendorA, kOtherVendorB};
  ASSERT_EQ(0u, key.setValue(kCompositeStreamEffectValue, REG_MULTI_SZ, multiStringData(list)));
  ASSERT_EQ(0u, key.setString(kStreamEffectValue, kOtherVendorA));
  ASSERT_EQ(0u, key.setDword(u"{D04E05A6-594B-4fb6-A80D-01AF5EED7D1D},3", 7));
}

class EndpointEffectsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    deleteRegistryTree(endpointPath(endpoint_).c_str());
    deleteRegistryTree((std::u16string(kEndpointBackupsKey) + u'\\' + endpoint_).c_str());
  }
  const std::u16string endpoint_ = fakeEndpoint();
};

// Verifies the round trip on an endpoint with another vendor's effects: attaching appends
// Vorlund to their list, keeps their single effect and every other value, and adds the mode
// list (default and communications); a second attach
// changes nothing at all; detaching restores the endpoint byte for byte and leaves no backup.
// On an endpoint whose effect properties hold no effect, attaching sets the single value too
// and detaching removes it again. Where the list changed after attaching (a driver update added
// an effect), detaching takes out only Vorlund's entry. The local-effect slot round-trips too.
TEST_F(EndpointEffectsTest, AttachKeepsOtherEffectsAndDetachRestoresBytes) {
  makeEndpoint(endpoint_, true);
  const Tree before = snapshot(endpoint_);
  const std::u16string fx = endpointPath(endpoint_) + u"\\FxProperties";
  EXPECT_FALSE(endpointState(endpoint_).attached);

  ASSERT_EQ(AttachResult::attached, attachToEndpoint(endpoint_, true));
  EXPECT_EQ((std::vector<std::u16string>{kOtherVendorA, kOtherVendorB, kVorlundClsid}),
            valueOf(fx, kCompositeStreamEffectValue).strings());
  EXPECT_EQ(kOtherVendorA, valueOf(fx, kStreamEffectValue).text());
  EXPECT_EQ(7u, valueOf(fx, u"{D04E05A6-594B-4fb6-A80D-01AF5EED7D1D},3").number());
  EXPECT_EQ((std::vector<std::u16string>{kDefaultModeGuid, kCommunicationsModeGuid}),
            valueOf(fx, kStreamModesValue).strings());
  const EndpointState state = endpointState(endpoint_);
  EXPECT_TRUE(state.attached);
  EXPECT_TRUE(state.backedUp);

  const Tree attached = snapshot(endpoint_);
  EXPECT_EQ(AttachResult::alreadyAttached, attachToEndpoint(endpoint_, true));
  EXPECT_EQ(attached, snapshot(endpoint_));

  EXPECT_EQ(DetachResult::restored, detachFromEndpoint(endpoint_, true));
  EXPECT_EQ(before, snapshot(endpoint_));
  EXPECT_EQ(DetachResult::notAttached, detachFromEndpoint(endpoint_, true));

  // An FxProperties key without effects: the single value is set too, and taken out again.
  RegistryKey key;
  makeEndpoint(endpoint_, false);
  ASSERT_EQ(0u, key.create(fx.c_str()));
  key.close();
  const Tree bare = snapshot(endpoint_);
  ASSERT_EQ(AttachResult::attached, attachToEndpoint(endpoint_, false));
  EXPECT_EQ(std::vector<std::u16string>{kVorlundClsid},
            valueOf(fx, kCompositeStreamEffectValue).strings());
  EXPECT_EQ(kVorlundClsid, valueOf(fx, kStreamEffectValue).text());
  EXPECT_EQ(DetachResult::restored, detachFromEndpoint(endpoint_, false));
  EXPECT_EQ(bare, snapshot(endpoint_));

  // A list rewritten after attaching.
  makeEndpoint(endpoint_, true);
  ASSERT_EQ(AttachResult::attached, attachToEndpoint(endpoint_, true));
  ASSERT_EQ(0u, key.open(fx.c_str()));
  const std::vector<std::u16string> rewritten = {kLaterVendor, kVorlundClsid, kOtherVendorA};
  ASSERT_EQ(0u,
            key.setValue(kCompositeStreamEffectValue, REG_MULTI_SZ, multiStringData(rewritten)));
  key.close();
  EXPECT_EQ(DetachResult::removedKeepingOthers, detachFromEndpoint(endpoint_, true));
  EXPECT_EQ((std::vector<std::u16string>{kLaterVendor, kOtherVendorA}),
            valueOf(fx, kCompositeStreamEffectValue).strings());
  EXPECT_EQ(kOtherVendorA, valueOf(fx, kStreamEffectValue).text());
  EXPECT_FALSE(endpointState(endpoint_).backedUp);

  // The local-effect slot: only its value is set, and detaching restores the bytes; an
  // endpoint with a local effect of its own is refused.
  makeEndpoint(endpoint_, true);
  const Tree stream = snapshot(endpoint_);
  ASSERT_EQ(AttachResult::attached, attachToEndpoint(endpoint_, true, EffectSlot::local));
  EXPECT_EQ(kVorlundClsid, valueOf(fx, kLocalEffectValue).text());
  EXPECT_EQ(2u, valueOf(fx, kCompositeStreamEffectValue).strings().size());
  EXPECT_TRUE(endpointState(endpoint_).attached);
  EXPECT_EQ(AttachResult::alreadyAttached, attachToEndpoint(endpoint_, true, EffectSlot::local));
  EXPECT_EQ(DetachResult::restored, detachFromEndpoint(endpoint_, true));
  EXPECT_EQ(stream, snapshot(endpoint_));
  ASSERT_EQ(0u, key.open(fx.c_str()));
  ASSERT_EQ(0u, key.setString(kLocalEffectValue, kLaterVendor));
  key.close();
  const Tree ownLocal = snapshot(endpoint_);
  EXPECT_THROW(attachToEndpoint(endpoint_, true, EffectSlot::local), EndpointError);
  EXPECT_EQ(ownLocal, snapshot(endpoint_));
}

// Verifies that every refusal comes with its kind and writes nothing: malformed ids (a render
// endpoint's among them), an endpoint without a key, one without effect properties (never
// created), a backup of another version's format
// (for attaching and detaching), and, on the stand-in registry, a write refused at every step
// of attaching and of detaching, as administrator and not.
TEST_F(EndpointEffectsTest, RefusalsWriteNothing) {
  for (const char* id :
       {"", "default-ish", "{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A6}",
        "{0.0.0.00000000}.{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}",
        "6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64", "{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A6Z}",
        "{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}\\..\\x"}) {
    SCOPED_TRACE(id);
    try {
      endpointKeyName(id);
      ADD_FAILURE() << "accepted";
    } catch (const EndpointError& error) {
      EXPECT_EQ(Kind::malformedId, error.kind());
    }
  }
  EXPECT_EQ(endpoint_, endpointKeyName("{0.0.1.00000000}." + endpointText(endpoint_)));

  auto expectRefusal = [&](Kind kind, auto action) {
    const Tree before = snapshot(endpoint_);
    try {
      action();
      ADD_FAILURE() << "not refused";
    } catch (const EndpointError& error) {
      EXPECT_EQ(kind, error.kind()) << error.what();
    }
    EXPECT_EQ(before, snapshot(endpoint_));
  };
  expectRefusal(Kind::noSuchEndpoint, [&] { attachToEndpoint(endpoint_, true); });
  expectRefusal(Kind::noSuchEndpoint, [&] { detachFromEndpoint(endpoint_, true); });
  makeEndpoint(endpoint_, false);
  expectRefusal(Kind::noEffectProperties, [&] { attachToEndpoint(endpoint_, true); });

  makeEndpoint(endpoint_, true);
  RegistryKey foreign;
  const std::u16string backup = std::u16string(kEndpointBackupsKey) + u'\\' + endpoint_;
  ASSERT_EQ(0u, foreign.create(backup.c_str()));
  ASSERT_EQ(0u, foreign.setDword(u"Format", kBackupFormat + 1));
  ASSERT_EQ(0u, foreign.setDword(u"FxPropertiesExisted", 1));
  foreign.close();
  expectRefusal(Kind::foreignBackup, [&] { attachToEndpoint(endpoint_, true); });
  expectRefusal(Kind::foreignBackup, [&] { detachFromEndpoint(endpoint_, true); });
  deleteRegistryTree(backup.c_str());
  deleteRegistryTree(kEndpointBackupsKey);
  deleteRegistryTree(kVorlundKey);

  if (!registryIsStandIn()) return;  // the real registry cannot be made to refuse
  for (const bool elevated : {false, true}) {
    const Kind kind = elevated ? Kind::keyRefused : Kind::needsAdministrator;
    std::uint32_t step = 0;
    for (;; ++step) {
      SCOPED_TRACE("attach, write " + std::to_string(step));
      const Tree before = snapshot(endpoint_);
      failRegistryWriteAfter(step, ERROR_ACCESS_DENIED);
      try {
        attachToEndpoint(endpoint_, elevated);
        break;
      } catch (const EndpointError& error) {
        EXPECT_EQ(kind, error.kind()) << error.what();
      }
      EXPECT_EQ(before, snapshot(endpoint_));
    }
    failRegistryWriteAfter(0, ERROR_SUCCESS);
    EXPECT_GE(step, 5u);  // key, backup key, its four values, the list: all were tried
    EXPECT_TRUE(endpointState(endpoint_).attached);
    // Detaching stops at its first write: nothing restored, the backup kept.
    const Tree attached = snapshot(endpoint_);
    failRegistryWriteAfter(0, ERROR_ACCESS_DENIED);
    try {
      detachFromEndpoint(endpoint_, elevated);
      ADD_FAILURE() << "not refused";
    } catch (const EndpointError& error) {
      EXPECT_EQ(kind, error.kind()) << error.what();
    }
    failRegistryWriteAfter(0, ERROR_SUCCESS);
    EXPECT_EQ(attached, snapshot(endpoint_));
    EXPECT_EQ(DetachResult::restored, detachFromEndpoint(endpoint_, elevated));
  }
}

// Verifies that the commands exist on Linux and say they are for Windows only, with their
// own exit code.
// Verifies that a microphone's name reaches the tools' text whole: two-, three- and four-byte
// characters, and a lone surrogate (which no UTF-8 can hold) as U+FFFD.
TEST(EndpointTextTest, NamesKeepEveryCharacter) {
  EXPECT_EQ(
      "Mikrofon Gr\xC3\xB6\xC3\x9F"
      "e \xE2\x80\x93 \xE9\xBA\xA6 \xF0\x9F\x8E\xA4",
      endpointText(u"Mikrofon Gr\u00F6\u00DFe \u2013 \u9EA6 \U0001F3A4"));
  EXPECT_EQ(
      "a\xEF\xBF\xBD"
      "b\xEF\xBF\xBD",
      endpointText(std::u16string{u'a', 0xD800, u'b', 0xDC00}));
}

TEST(WindowsCommandsTest, SayTheyAreForWindowsOnly) {
  if (VORLUND_WINDOWS) GTEST_SKIP() << "the installer's test runs them on Windows";
  test::TempDataFolder temp;
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"devices"},
                                                    {"attach", "default"},
                                                    {"detach", "--all"},
                                                    {"setup"},
                                                    {"path", "add"},
                                                    {"doctor"}}) {
    const test::ToolRun result = test::runCtl(temp, arguments);
    EXPECT_EQ(7, result.exitCode) << result;
    EXPECT_NE(std::string::npos, result.err.find("Windows only")) << result;
  }
}

}  // namespace
}  // namespace vorlund
