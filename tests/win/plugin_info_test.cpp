// The plug-in as a host sees it: identity strings, the image-information record, the export table
// and the version resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/plugin_module.h"
#include "tests/support/settings_key.h"

namespace {

class PluginInfo : public testing::Test {
 protected:
  void SetUp() override { test::DeleteSettingsKey(); }
  void TearDown() override { test::DeleteSettingsKey(); }

  std::string Info(int index, int length, int* result) {
    std::vector<char> buffer(length > 0 ? length + 8 : 8, '#');
    *result = info_(index, buffer.data(), length);
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
  }

  test::PluginModule plugin_;
  test::GetPluginInfoFn info_ = plugin_.Get<test::GetPluginInfoFn>("GetPluginInfo");
};

TEST_F(PluginInfo, ReportsEachIdentityString) {
  struct Case { int index; const char* text; };
  const Case cases[] = {{0, "00IN"}, {1, ZELNAR_EXPECTED_NAME}, {2, "*.html;*.htm"}, {3, "HTML file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    int result = -1;
    EXPECT_EQ(Info(c.index, 256, &result), c.text);
    EXPECT_EQ(result, int(std::strlen(c.text)));
  }
}

TEST_F(PluginInfo, CutsLongStringsAndAlwaysTerminates) {
  struct Case { int index; int length; const char* text; };
  const Case cases[] = {{1, 5, "HTML"}, {1, 1, ""}, {0, 4, "00I"}, {0, 5, "00IN"}, {2, 7, "*.html"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << "/" << c.length);
    std::vector<char> buffer(32, '#');
    const int result = info_(c.index, buffer.data(), c.length);
    EXPECT_EQ(result, int(std::strlen(c.text)));
    EXPECT_EQ(std::string(buffer.data()), c.text);
    EXPECT_EQ(buffer[c.length], '#') << "wrote past the buffer";
  }
}

TEST_F(PluginInfo, LeavesTheBufferAloneForBadArguments) {
  struct Case { int index; int length; };
  const Case cases[] = {{4, 256}, {-1, 256}, {INT_MAX, 256}, {0, 0}, {1, -5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << "/" << c.length);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(info_(c.index, buffer, c.length), 0);
    EXPECT_EQ(buffer[0], '#');
  }
  EXPECT_EQ(info_(0, nullptr, 256), 0);
}

TEST_F(PluginInfo, ReportsThePatternListLoadedFromTheRegistry) {
  struct Case { const char* stored; const char* reported; };
  // An invalid entry is reported as stored, byte for byte: compiling the list changes nothing in it.
  const Case cases[] = {{"*.html;*.htm;*.eml", "*.html;*.htm;*.eml"},
                        {"", ""},
                        {"%TEMP%\\*.x", "%TEMP%\\*.x"},
                        {"*.htm;[a-;\x95\x5C*;", "*.htm;[a-;\x95\x5C*;"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    test::WriteString("ext", c.stored);
    plugin_.Reload();
    info_ = plugin_.Get<test::GetPluginInfoFn>("GetPluginInfo");
    int result = -1;
    EXPECT_EQ(Info(2, 256, &result), c.reported);
    EXPECT_EQ(result, int(std::strlen(c.reported)));
  }
}

// Every byte of the record, as a host of the test's bitness reads it: 26 packed bytes in a 32-bit
// host; in a 64-bit one two zero bytes of padding and then the 8-byte handle at 24, 32 in all.
TEST_F(PluginInfo, PictureInfoIsTheFixedRecordAndResult8) {
#ifdef _WIN64
  const std::vector<unsigned char> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0x80, 2, 0, 0, 0xE0, 1, 0, 0,
                                               0, 0, 0, 0, 24, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0};
#else
  const std::vector<unsigned char> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0x80, 2, 0, 0, 0xE0, 1, 0, 0,
                                               0, 0, 0, 0, 24, 0, 0, 0, 0,    0};
#endif
  auto pictureInfo = plugin_.Get<test::GetPictureInfoFn>("GetPictureInfo");
  auto pictureInfoW = plugin_.Get<test::GetPictureInfoWFn>("GetPictureInfoW");
  struct Case { const char* input; const wchar_t* wideInput; unsigned int kind; };
  const Case cases[] = {
      {"Z:\\no\\such\\file.htm", L"Z:\\no\\such\\file.htm", 0}, {"", L"", 1}, {"page.htm", L"page.htm", 7}};
  for (const Case& c : cases) {
    for (bool wide : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.input << (wide ? " (W)" : ""));
      unsigned char record[40];
      std::memset(record, 0xCC, sizeof record);
      EXPECT_EQ(wide ? pictureInfoW(c.wideInput, 0, c.kind, record) : pictureInfo(c.input, 0, c.kind, record), 8);
      EXPECT_EQ(std::vector<unsigned char>(record, record + expected.size()), expected);
      for (size_t i = expected.size(); i < sizeof record; ++i) EXPECT_EQ(record[i], 0xCC) << "wrote byte " << i;
    }
  }
  EXPECT_EQ(pictureInfo("x", 0, 0, nullptr), 8);
  EXPECT_EQ(pictureInfoW(L"x", 0, 0, nullptr), 8);
}

TEST_F(PluginInfo, ExportsUndecoratedNamesOnly) {
  EXPECT_NE(GetProcAddress(plugin_.Handle(), "GetPluginInfo"), nullptr);
  EXPECT_NE(GetProcAddress(plugin_.Handle(), "GetPictureInfo"), nullptr);
  EXPECT_NE(GetProcAddress(plugin_.Handle(), "GetPictureW"), nullptr);
  EXPECT_EQ(GetProcAddress(plugin_.Handle(), "ConfigurationDlgW"), nullptr) << "the dialog has no wide form";
  for (const char* decorated : {"GetPluginInfo@12", "_GetPluginInfo@12", "GetPictureW@28", "IsSupportedW@8"})
    EXPECT_EQ(GetProcAddress(plugin_.Handle(), decorated), nullptr) << decorated;
}

TEST(VersionResource, ReadsBackAsBuilt) {
  char path[MAX_PATH];
  test::PluginModule plugin;
  ASSERT_GT(GetModuleFileNameA(plugin.Handle(), path, MAX_PATH), 0u);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, DWORD(ZELNAR_EXPECTED_VERSION_MS));
  EXPECT_EQ(fixed->dwFileVersionLS, DWORD(ZELNAR_EXPECTED_VERSION_LS));
  EXPECT_EQ(fixed->dwProductVersionMS, DWORD(ZELNAR_EXPECTED_VERSION_MS));
  EXPECT_EQ(fixed->dwProductVersionLS, DWORD(ZELNAR_EXPECTED_VERSION_LS));
  EXPECT_EQ(fixed->dwFileOS, DWORD(VOS__WINDOWS32));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 932);

  struct Entry { const char* name; const char* value; };
  const Entry entries[] = {{"FileVersion", ZELNAR_EXPECTED_VERSION}, {"ProductVersion", "1.0.0.0"},
                           {"CompanyName", ""}, {"FileDescription", ""}, {"ProductName", ""},
                           {"OriginalFilename", ""}};
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.name);
    char* value = nullptr;
    const std::string query = std::string("\\StringFileInfo\\041103A4\\") + e.name;
    ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, e.value);
  }
}

}  // namespace
