// Loading and saving the settings record against the prefix's real HKCU.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/dialog_unit.h"
#include "settings/registry_accessor.h"
#include "settings/registry_error.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "tests/support/fault_injector.h"
#include "tests/support/settings_key.h"
#include "win/error.h"

namespace zelnar {
namespace {

struct Raw {
  const char* name;
  DWORD type;
  std::string bytes;
};

std::string Dword(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Sz(const std::string& text) { return text + '\0'; }

struct Record {
  int32_t width, height;
  uint32_t flag1, flag2;
  std::string ext;
};

Record Defaults() { return {800, 600, 524, 8, "*.html;*.htm"}; }

Record Current() {
  const SettingsIntegers i = ReadSettingsIntegers();
  return {i.width, i.height, i.flag1, i.flag2, ReadPatternList()};
}

void ExpectRecord(const Record& expected) {
  const Record r = Current();
  EXPECT_EQ(r.width, expected.width);
  EXPECT_EQ(r.height, expected.height);
  EXPECT_EQ(r.flag1, expected.flag1);
  EXPECT_EQ(r.flag2, expected.flag2);
  EXPECT_EQ(r.ext, expected.ext);
}

class SettingsStore : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    test::DeleteSettingsKey();
    StoreSettingsIntegers(kDefaultIntegers);
    StorePatternList(PreparePatternList(kDefaultPatternList));
  }
};

TEST_F(SettingsStore, LoadsEveryValueOrNone) {
  struct Case {
    const char* what;
    std::vector<Raw> values;
    Record expected;
  };
  Record widthOnly = Defaults();
  widthOnly.width = 1024;
  Record all{-1, 0, 0xFFFFFFFF, 0x1234, "*.eml"};
  Record emptyExt = Defaults();
  emptyExt.ext = "";
  Record expandExt = Defaults();
  expandExt.ext = "%USERPROFILE%\\*.htm";
  Record cutExt = Defaults();
  cutExt.ext = "*.htm";
  Record shortDword = Defaults();
  shortDword.width = 0x0201;

  const Case cases[] = {
      {"no key", {}, Defaults()},
      {"width only", {{"width", REG_DWORD, Dword(1024)}}, widthOnly},
      {"all five, any 32-bit value",
       {{"width", REG_DWORD, Dword(0xFFFFFFFF)}, {"height", REG_DWORD, Dword(0)},
        {"flag1", REG_DWORD, Dword(0xFFFFFFFF)}, {"flag2", REG_DWORD, Dword(0x1234)}, {"ext", REG_SZ, Sz("*.eml")}},
       all},
      {"a text flag drops the height read before it",
       {{"height", REG_DWORD, Dword(768)}, {"flag2", REG_SZ, Sz("8")}}, Defaults()},
      {"binary width", {{"width", REG_BINARY, Dword(1024)}}, Defaults()},
      {"big-endian width", {{"width", REG_DWORD_BIG_ENDIAN, Dword(1024)}}, Defaults()},
      {"eight-byte width", {{"width", REG_QWORD, Dword(1024) + Dword(0)}}, Defaults()},
      {"short dword width", {{"width", REG_DWORD, std::string("\x01\x02", 2)}}, shortDword},
      {"empty dword height is no dword", {{"height", REG_DWORD, ""}, {"width", REG_DWORD, Dword(5)}}, [] {
         Record r = Defaults();
         r.width = 5;
         r.height = 0;
         return r;
       }()},
      {"ext of only a terminator", {{"ext", REG_SZ, Sz("")}}, emptyExt},
      {"ext expandable, not expanded", {{"ext", REG_EXPAND_SZ, Sz("%USERPROFILE%\\*.htm")}}, expandExt},
      {"ext with a zero inside", {{"ext", REG_SZ, std::string("*.htm\0*.x", 9) + '\0'}}, cutExt},
      {"ext without terminator", {{"ext", REG_SZ, std::string("*.htm")}}, cutExt},
      {"ext multi-string", {{"width", REG_DWORD, Dword(1)}, {"ext", REG_MULTI_SZ, Sz("*.htm") + '\0'}}, Defaults()},
      {"ext empty binary", {{"ext", REG_BINARY, ""}}, emptyExt},
      {"ext empty multi-string", {{"ext", REG_MULTI_SZ, ""}}, emptyExt},
      {"ext non-empty dword", {{"ext", REG_DWORD, Dword(1)}}, Defaults()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    for (const Raw& v : c.values) test::WriteRaw(v.name, v.type, v.bytes.data(), DWORD(v.bytes.size()));
    if (c.values.empty()) {
      HKEY key;
      // An empty key behaves as no key.
      RegCreateKeyExA(HKEY_CURRENT_USER, test::kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
      RegCloseKey(key);
    }
    LoadSettings();
    ExpectRecord(c.expected);
  }
}

TEST_F(SettingsStore, SaveCreatesTheKeyAndLoadsBack) {
  struct Case { Record saved; };
  const Case cases[] = {{{1024, 768, 524, 8, "*.html;*.htm;*.eml"}}, {{-5, 1, 0, 0xFFFFFFFF, ""}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.saved.ext);
    Reset();
    ASSERT_TRUE(SaveSettings(c.saved.width, c.saved.height, c.saved.flag1, c.saved.flag2, c.saved.ext));

    DWORD type = 0;
    std::string bytes;
    const char* const dwords[] = {"width", "height", "flag1", "flag2"};
    for (const char* name : dwords) {
      ASSERT_TRUE(test::ReadRaw(name, &type, &bytes)) << name;
      EXPECT_EQ(type, DWORD(REG_DWORD)) << name;
      EXPECT_EQ(bytes.size(), 4u) << name;
    }
    ASSERT_TRUE(test::ReadRaw("width", &type, &bytes));
    EXPECT_EQ(bytes, Dword(uint32_t(c.saved.width)));
    ASSERT_TRUE(test::ReadRaw("ext", &type, &bytes));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(bytes, Sz(c.saved.ext));

    StoreSettingsIntegers(kDefaultIntegers);
    StorePatternList(PreparePatternList(kDefaultPatternList));
    LoadSettings();
    ExpectRecord(c.saved);
  }
}

TEST_F(SettingsStore, SaveLeavesTheRecordAlone) {
  ASSERT_TRUE(SaveSettings(1, 2, 3, 4, "x"));
  ExpectRecord(Defaults());
}

// A volatile parent key: no non-volatile key can be created below it, so the settings key can
// neither be opened (it does not exist) nor created.
class VolatileParent {
 public:
  VolatileParent() {
    test::DeleteSettingsKey();
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tamberlo");
    HKEY key;
    made_ = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\tamberlo", 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (made_) RegCloseKey(key);
  }
  ~VolatileParent() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tamberlo"); }
  bool Made() const { return made_; }

 private:
  bool made_ = false;
};

TEST_F(SettingsStore, SaveIsRefusedWhenTheKeyCannotBeCreated) {
  VolatileParent parent;
  ASSERT_TRUE(parent.Made());
  EXPECT_FALSE(SaveSettings(1024, 768, 524, 8, "*.x"));
  HKEY probe;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, test::kKeyPath, 0, KEY_READ, &probe), ERROR_SUCCESS);
}

// The error names the value, the operation and the code; the dialog says it in its own words.
TEST_F(SettingsStore, AFailedWriteRaisesWithTheValueName) {
  ASSERT_TRUE(SaveSettings(1, 2, 3, 4, "x"));
  RegistryAccessor reader(KEY_READ);
  ASSERT_TRUE(reader.OpenKey("\\Software\\tamberlo\\zelnar", false));
  const struct { bool text; const char* name; const wchar_t* message; const wchar_t* trace; } cases[] = {
      {false, "flag1", L"'flag1' の設定に失敗しました", L"RegSetValueExA 'flag1' (0x00000005)"},
      {true, "ext", L"'ext' の設定に失敗しました", L"RegSetValueExA 'ext' (0x00000005)"}};
  for (const auto& c : cases) {
    try {
      if (c.text) reader.WriteString(c.name, "y"); else reader.WriteInteger(c.name, 9);
      ADD_FAILURE() << "no error for " << c.name;
    } catch (const RegistryError& e) {
      EXPECT_EQ(e.ValueName(), c.name);
      EXPECT_EQ(e.WhatFailed(), RegistryError::Operation::Set);
      EXPECT_EQ(e.Code(), ERROR_ACCESS_DENIED);
      EXPECT_EQ(e.Text(), c.trace);
      EXPECT_EQ(RegistryErrorMessage(e), c.message);
    }
  }
}

TEST_F(SettingsStore, ReadErrorsNameTheValue) {
  test::WriteString("flag2", "8");
  test::WriteRaw("width", REG_QWORD, "\1\0\0\0\0\0\0\0", 8);
  RegistryAccessor reader(KEY_READ);
  ASSERT_TRUE(reader.OpenKey("\\Software\\tamberlo\\zelnar", false));
  const struct { const char* name; RegistryError::Operation operation; long code; const wchar_t* message; } cases[] = {
      {"flag2", RegistryError::Operation::WrongType, REG_SZ, L"'flag2' のデータ型が不正です"},
      {"width", RegistryError::Operation::Query, ERROR_MORE_DATA, L"'width' の取得に失敗しました"},
      {"gone", RegistryError::Operation::Query, ERROR_FILE_NOT_FOUND, L"'gone' の取得に失敗しました"}};
  for (const auto& c : cases) {
    try {
      reader.ReadInteger(c.name);
      ADD_FAILURE() << "no error for " << c.name;
    } catch (const RegistryError& e) {
      EXPECT_EQ(e.ValueName(), c.name);
      EXPECT_EQ(e.WhatFailed(), c.operation);
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(RegistryErrorMessage(e), c.message);
    }
  }
}

TEST_F(SettingsStore, RelativePathsJoinTheOpenKey) {
  RegistryAccessor registry;
  ASSERT_TRUE(registry.OpenKey("\\Software\\tamberlo", true));
  ASSERT_TRUE(registry.OpenKey("zelnar", true));
  EXPECT_EQ(registry.CurrentPath(), "\\Software\\tamberlo\\zelnar");
  EXPECT_FALSE(registry.OpenKey("missing", false));
  EXPECT_EQ(registry.CurrentPath(), "\\Software\\tamberlo\\zelnar") << "a failed open keeps the open key";
}

// The settings code is linked into this program, so the injector patches the program's own imports.
// A query that fails for another reason than a missing value (the key deleted meanwhile, memory)
// must drop the whole load, not read as an absent value or an empty list.
TEST_F(SettingsStore, AQueryThatFailsKeepsEveryDefault) {
  test::WriteDword("width", 1024);
  test::WriteDword("height", 768);
  test::WriteString("ext", "*.stored-list-longer-than-fifteen");
  test::FaultInjector injector(GetModuleHandleW(nullptr));
  // Queries in order: exists and read for width, height (flag1 and flag2 are missing), then ext's
  // existence, its size and its data.
  for (int n = 1; n <= 9; ++n) {
    SCOPED_TRACE(n);
    Reset();
    test::WriteDword("width", 1024);
    test::WriteDword("height", 768);
    test::WriteString("ext", "*.stored-list-longer-than-fifteen");
    injector.Arm(test::Import::RegQueryValueExA, n);
    LoadSettings();
    injector.Disarm();
    EXPECT_TRUE(injector.Injected());
    ExpectRecord(Defaults());
    EXPECT_TRUE(injector.Held().keys.empty()) << "the key stayed open";
  }
  // Allocation: the pattern list is copied more than once on the way into the record.
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    Reset();
    test::WriteDword("width", 1024);
    test::WriteDword("height", 768);
    test::WriteString("ext", "*.stored-list-longer-than-fifteen");
    injector.Arm(test::Import::malloc, n);
    LoadSettings();
    injector.Disarm();
    const Record r = Current();
    if (r.width == 1024) {
      ExpectRecord({1024, 768, 524, 8, "*.stored-list-longer-than-fifteen"});
    } else {
      ExpectRecord(Defaults());
    }
  }
}

// Opening a key must not raise, whatever runs out: it answers false and leaves nothing open.
TEST_F(SettingsStore, OpeningAKeyWithoutMemoryFailsQuietly) {
  ASSERT_TRUE(SaveSettings(1, 2, 3, 4, "x"));
  const std::string path = "\\Software\\tamberlo\\zelnar";
  test::FaultInjector injector(GetModuleHandleW(nullptr));
  RegistryAccessor registry(KEY_READ);
  injector.Arm(test::Import::malloc, 1);
  const bool opened = registry.OpenKey(path, false);
  injector.Disarm();
  EXPECT_TRUE(injector.Injected());
  EXPECT_FALSE(opened);
  EXPECT_TRUE(injector.Held().keys.empty());
  EXPECT_TRUE(registry.OpenKey(path, false)) << "and the next open works";
}

}  // namespace
}  // namespace zelnar
