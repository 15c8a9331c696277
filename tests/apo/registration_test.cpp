#include "apo/registration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "com_test_objects.h"
#include "platform/registry.h"
#include "registry_helpers.h"
#include "vorlund_version.h"

namespace vorlund {
namespace {

using test::guidText;
using test::keyExists;
using test::narrow;

const char16_t* const kKeys[] = {kClassKey, kInprocServerKey, kAudioProcessingObjectKey};

std::map<std::string, RegistryValue> valuesOf(const char16_t* key) {
  std::vector<RegistryValue> values;
  std::map<std::string, RegistryValue> byName;
  if (readRegistryValues(key, values) != ERROR_SUCCESS) return byName;
  for (RegistryValue& v : values) byName[narrow(v.name)] = v;
  EXPECT_EQ(values.size(), byName.size()) << "value names repeat";
  return byName;
}

// Keys of the registration that exist, plus every value in them.
std::size_t itemsWritten() {
  std::size_t items = 0;
  for (const char16_t* key : kKeys) {
    std::vector<RegistryValue> values;
    if (readRegistryValues(key, values) == ERROR_SUCCESS) items += 1 + values.size();
  }
  return items;
}

// Registration writes the machine-wide registry; only the stand-in store is safe to write
// from a unit test (under Wine the regsvr32 test covers the real registry).
class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!registryIsStandIn()) GTEST_SKIP() << "the real registry is tested through regsvr32";
    unregisterServer();
  }
  void TearDown() override {
    failRegistryWriteAfter(0, ERROR_SUCCESS);
    unregisterServer();
  }
};

void expectString(const std::map<std::string, RegistryValue>& values, const char* name,
                  const std::u16string& text) {
  SCOPED_TRACE(name);
  ASSERT_EQ(1u, values.count(name));
  const RegistryValue& v = values.at(name);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type);
  EXPECT_EQ(text, v.text());
  EXPECT_EQ((text.size() + 1) * 2, v.data.size()) << "the terminator counts";
}

void expectNumber(const std::map<std::string, RegistryValue>& values, const char* name,
                  DWORD number) {
  SCOPED_TRACE(name);
  ASSERT_EQ(1u, values.count(name));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), values.at(name).type);
  EXPECT_EQ(4u, values.at(name).data.size());
  EXPECT_EQ(number, values.at(name).number());
}

// Verifies the keys and values a registration leaves: the class key's name, the server path
// and threading model, and exactly the twelve values of the audio engine's key, taken from
// the same record GetRegistrationProperties returns; unregistration removes both keys, and
// may be repeated.
TEST_F(RegistrationTest, WritesExactlyTheRegisteredValues) {
  const std::u16string path = u"/opt/vorlund/libVorlundApo.so";
  ASSERT_EQ(S_OK, writeRegistration(path.c_str()));

  const auto classValues = valuesOf(kClassKey);
  EXPECT_EQ(1u, classValues.size());
  expectString(classValues, "", u"Vorlund APO");
  const auto serverValues = valuesOf(kInprocServerKey);
  EXPECT_EQ(2u, serverValues.size());
  expectString(serverValues, "", path);
  expectString(serverValues, "ThreadingModel", u"Both");

  const auto apoValues = valuesOf(kAudioProcessingObjectKey);
  EXPECT_EQ(12u, apoValues.size());
  const APO_REG_PROPERTIES& record = kRegistrationProperties;
  expectString(apoValues, "FriendlyName", u"Vorlund");
  expectString(apoValues, "Copyright",
               std::u16string(record.szCopyrightInfo,
                              record.szCopyrightInfo +
                                  std::char_traits<WCHAR>::length(record.szCopyrightInfo)));
  expectNumber(apoValues, "MajorVersion", VORLUND_VERSION_MAJOR);
  expectNumber(apoValues, "MinorVersion", VORLUND_VERSION_MINOR);
  expectNumber(apoValues, "Flags", 0xF);
  expectNumber(apoValues, "MinInputConnections", 1);
  expectNumber(apoValues, "MaxInputConnections", 1);
  expectNumber(apoValues, "MinOutputConnections", 1);
  expectNumber(apoValues, "MaxOutputConnections", 1);
  expectNumber(apoValues, "MaxInstances", 0xFFFFFFFFu);
  expectNumber(apoValues, "NumAPOInterfaces", 1);
  expectString(apoValues, "APOInterface0", u"{5FA00F27-ADD6-499a-8A9D-6B98521FA75B}");

  EXPECT_EQ(S_OK, unregisterServer());
  for (const char16_t* key : kKeys) EXPECT_FALSE(keyExists(key)) << narrow(key);
  EXPECT_EQ(S_OK, unregisterServer());
}

// Verifies that registration reports S_OK only when it is complete: a failure at any of its
// key creations and value writes returns that error as an HRESULT and leaves exactly the
// writes made before it; with no failure every write is made.
TEST_F(RegistrationTest, AnyFailedWriteFailsTheRegistration) {
  const std::u16string path = u"/opt/vorlund/libVorlundApo.so";
  ASSERT_EQ(S_OK, writeRegistration(path.c_str()));
  const std::size_t total = itemsWritten();
  EXPECT_EQ(3u + 1u + 2u + 12u, total);
  for (std::size_t n = 0; n < total; ++n) {
    SCOPED_TRACE(n);
    unregisterServer();
    failRegistryWriteAfter(static_cast<std::uint32_t>(n), ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<HRESULT>(0x80070005u), writeRegistration(path.c_str()));
    EXPECT_EQ(n, itemsWritten());
  }
  unregisterServer();
  failRegistryWriteAfter(static_cast<std::uint32_t>(total), ERROR_NOT_ENOUGH_QUOTA);
  EXPECT_EQ(S_OK, writeRegistration(path.c_str()));
  EXPECT_EQ(total, itemsWritten());
}

// Verifies that registerServer writes the path of the module that holds the code (here the
// test program itself) as the server.
TEST_F(RegistrationTest, RegistersTheModuleItRunsIn) {
  ASSERT_EQ(S_OK, registerServer());
  const auto serverValues = valuesOf(kInprocServerKey);
  ASSERT_EQ(1u, serverValues.count(""));
  const std::filesystem::path program = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(program.u16string(), serverValues.at("").text());
}

// Verifies the results of the module path step, none of which may report success for a
// path registration cannot use: a failure keeps its last error, a failure without one is
// E_FAIL, and a path that fills the buffer (and may be cut) is ERROR_INSUFFICIENT_BUFFER.
TEST(ModulePathResultTest, OnlyAWholePathSucceeds) {
  EXPECT_EQ(S_OK, modulePathResult(1, kModulePathCapacity, ERROR_SUCCESS));
  EXPECT_EQ(S_OK, modulePathResult(kModulePathCapacity - 1, kModulePathCapacity, ERROR_SUCCESS));
  EXPECT_EQ(E_FAIL, modulePathResult(0, kModulePathCapacity, ERROR_SUCCESS));
  EXPECT_EQ(static_cast<HRESULT>(0x80070005u),
            modulePathResult(0, kModulePathCapacity, ERROR_ACCESS_DENIED));
  EXPECT_EQ(static_cast<HRESULT>(0x8007007Au),
            modulePathResult(kModulePathCapacity, kModulePathCapacity, ERROR_SUCCESS));
  EXPECT_EQ(static_cast<HRESULT>(0x8007007Au),
            modulePathResult(kModulePathCapacity, kModulePathCapacity, ERROR_INSUFFICIENT_BUFFER));
}

// Verifies that the identifiers written as text name the same GUIDs as the code uses.
TEST(RegistrationIdentityTest, KeyPathsNameTheClass) {
  const std::string clsid = guidText(CLSID_VorlundApo);
  EXPECT_EQ("{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}", clsid);
  EXPECT_EQ("SOFTWARE\\Classes\\CLSID\\" + clsid, narrow(kClassKey));
  EXPECT_EQ("SOFTWARE\\Classes\\CLSID\\" + clsid + "\\InprocServer32", narrow(kInprocServerKey));
  EXPECT_EQ("SOFTWARE\\Classes\\AudioEngine\\AudioProcessingObjects\\" + clsid,
            narrow(kAudioProcessingObjectKey));
  EXPECT_EQ("{5FA00F27-ADD6-499A-8A9D-6B98521FA75B}", guidText(IID_IAudioSystemEffects));
}

}  // namespace
}  // namespace vorlund
