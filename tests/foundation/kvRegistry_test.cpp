// Registry access over the in-memory store, seeded by the tests.
#include "foundation/kvRegistry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/TempTree.h"

using namespace foundation;
namespace os = platform::os;

namespace {

void SetString(HKEY key, const std::u16string& name, const std::u16string& text, bool withNul = true) {
  uint32_t size = static_cast<uint32_t>((text.size() + (withNul ? 1 : 0)) * 2);
  ASSERT_EQ(os::regSetValueEx(key, name, os::REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()), size), 0);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os::regResetStore();
    InitRegistry();
    HKEY k = 0;
    ASSERT_EQ(os::regCreateKeyEx(os::HKEY_CLASSES_ROOT, u".qel\\DefaultIcon", os::KEY_ALL_ACCESS, &k), 0);
    SetString(k, u"", u"Z:\\opt\\qel\\player,0");
    SetString(k, u"OnlyNul", u"");                           // 2 bytes: just the NUL
    SetString(k, u"NoNul", u"abc", false);                  // 6 bytes
    uint8_t odd[3] = {'x', 0, 0};
    ASSERT_EQ(os::regSetValueEx(k, u"Odd", os::REG_BINARY, odd, 3), 0);
    os::regCloseKey(k);
    reg_ = CreateRegistryObject();
  }
  void TearDown() override {
    reg_->Free();
    os::regResetStore();
  }
  TRegistry* reg_ = nullptr;
};

}  // namespace

TEST_F(RegistryTest, ReadsStringsWithDefaults) {
  EXPECT_EQ(reg_->GetDataSize(u""), -1);  // no key open
  EXPECT_EQ(reg_->ReadString(u"", u"dflt"), u"dflt");
  ASSERT_TRUE(reg_->OpenKey(os::HKEY_CLASSES_ROOT, u".QEL\\defaulticon", 0));
  EXPECT_EQ(reg_->ReadString(u"", u"dflt"), u"Z:\\opt\\qel\\player,0");
  EXPECT_EQ(reg_->GetDataSize(u"OnlyNul"), 2);
  std::u16string text = u"junk";
  EXPECT_TRUE(reg_->TryReadString(u"OnlyNul", text));
  EXPECT_EQ(text, u"");
  EXPECT_EQ(reg_->ReadString(u"Missing", u"dflt"), u"dflt");
  EXPECT_EQ(reg_->GetDataSize(u"Missing"), -1);
  // The last character is taken for the terminator whatever it is.
  EXPECT_EQ(reg_->ReadString(u"NoNul", u"dflt"), u"ab");
  // An odd size does not fit the UTF-16 buffer: failure and the default.
  EXPECT_FALSE(reg_->TryReadString(u"Odd", text));
  EXPECT_EQ(text, u"");
}

TEST_F(RegistryTest, AFailedOpenLeavesNoKeyOpen) {
  ASSERT_TRUE(reg_->OpenKey(os::HKEY_CLASSES_ROOT, u".qel\\DefaultIcon", 0));
  EXPECT_TRUE(reg_->IsOpen());
  EXPECT_FALSE(reg_->OpenKey(os::HKEY_CLASSES_ROOT, u".none", 0));
  EXPECT_FALSE(reg_->IsOpen());
  EXPECT_EQ(reg_->GetDataSize(u""), -1);
  EXPECT_EQ(reg_->ReadString(u"", u"dflt"), u"dflt");
  // The other roots start empty.
  EXPECT_FALSE(reg_->OpenKey(os::HKEY_CURRENT_USER, u".qel", 0));
}

TEST_F(RegistryTest, WrappersCreateEnumerateDeleteAndSave) {
  HKEY key = 0;
  ASSERT_TRUE(reg_->ApiCreateKey(os::HKEY_CURRENT_USER, u"Software\\Orvane", os::KEY_ALL_ACCESS, key));
  // A sub-key name longer than the first 260-character buffer.
  std::u16string longName(300, u'k');
  HKEY sub = 0;
  ASSERT_TRUE(reg_->ApiCreateKey(key, longName, os::KEY_ALL_ACCESS, sub));
  ASSERT_TRUE(reg_->ApiCloseKey(sub));
  ASSERT_TRUE(reg_->ApiCreateKey(key, u"short", os::KEY_ALL_ACCESS, sub));
  uint32_t dword = 0x12345678;
  ASSERT_TRUE(reg_->ApiSetValueEx(sub, u"Count", os::REG_DWORD, &dword, 4));
  const uint8_t blob[] = {1, 2, 3};
  ASSERT_TRUE(reg_->ApiSetValue(sub, u"Blob", os::REG_BINARY, blob));
  ASSERT_TRUE(reg_->ApiCloseKey(sub));
  std::u16string name;
  ASSERT_TRUE(reg_->ApiEnumKey(key, 0, name));
  EXPECT_EQ(name, longName);
  ASSERT_TRUE(reg_->ApiEnumKey(key, 1, name));
  EXPECT_EQ(name, u"short");
  EXPECT_FALSE(reg_->ApiEnumKey(key, 2, name));

  ASSERT_TRUE(reg_->OpenKey(key, u"short", 1));
  char16_t valueName[8];
  uint32_t nameLength = 8, type = 0, size = 4;
  uint8_t data[4] = {};
  ASSERT_TRUE(reg_->ApiEnumValue(reg_->Key(), 0, valueName, nameLength, type, data, &size));
  EXPECT_EQ(std::u16string(valueName, nameLength), u"Count");
  EXPECT_EQ(type, os::REG_DWORD);
  uint32_t got;
  std::memcpy(&got, data, 4);
  EXPECT_EQ(got, 0x12345678u);
  nameLength = 2;  // too short for "Blob"
  EXPECT_FALSE(reg_->ApiEnumValue(reg_->Key(), 1, valueName, nameLength, type, nullptr, nullptr));
  nameLength = 8;
  EXPECT_FALSE(reg_->ApiEnumValue(reg_->Key(), 2, valueName, nameLength, type, nullptr, nullptr));
  EXPECT_TRUE(reg_->ApiDeleteValue(reg_->Key(), u"count"));
  EXPECT_EQ(reg_->GetDataSize(u"Count"), -1);
  reg_->CloseKey();

  qeltest::TempTree t;
  ASSERT_TRUE(reg_->ApiSaveKey(key, t.internal("saved.ini")));
  std::string saved = t.read("saved.ini");
  EXPECT_NE(saved.find("[short]"), std::string::npos);
  EXPECT_NE(saved.find("\"Blob\"=hex(3):01,02,03"), std::string::npos);
  EXPECT_FALSE(reg_->ApiSaveKey(key, t.internal("saved.ini")));  // exists

  // A key with sub-keys cannot be deleted; an empty one can.
  EXPECT_FALSE(reg_->ApiDeleteKey(os::HKEY_CURRENT_USER, u"Software\\Orvane"));
  EXPECT_TRUE(reg_->ApiDeleteKey(key, u"short"));
  EXPECT_TRUE(reg_->ApiDeleteKey(key, longName));
  EXPECT_FALSE(reg_->ApiEnumKey(key, 0, name));
  ASSERT_TRUE(reg_->ApiCloseKey(key));
}

namespace {
// A registry layer whose objects never open a key: every read gives its default.
class TNoRegistry : public TRegistry {
 public:
  bool ApiOpenKey(HKEY, const std::u16string&, uint32_t, HKEY&) override { return false; }
};
}  // namespace

TEST_F(RegistryTest, TheFactoryCanBeExchanged) {
  TCreateRegistryObject saved = CreateRegistryObject;
  CreateRegistryObject = []() -> TRegistry* { return new TNoRegistry(); };
  TRegistry* r = CreateRegistryObject();
  EXPECT_FALSE(r->OpenKey(os::HKEY_CLASSES_ROOT, u".qel\\DefaultIcon", 0));
  EXPECT_EQ(r->ReadString(u"", u"dflt"), u"dflt");
  r->Free();
  CreateRegistryObject = saved;
}
