// GetPicture and GetPreview as a host calls them, with the stand-in extractor in each of its modes.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/debug_output.h"
#include "tests/support/host_blocks.h"
#include "tests/support/page_file.h"
#include "tests/support/plugin_module.h"
#include "tests/support/process_memory.h"
#include "tests/support/settings_key.h"
#include "tools/standin/standin_control.h"

namespace {

using standin::Mode;


const test::PageFile kPageFile("page.htm");
const char* const kPage = kPageFile.Path();

int Stride(int width) { return (3 * width + 3) & ~3; }

standin::Record StandinRecord() {
  standin::Record record;
  StandinGetRecord(&record);
  return record;
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
  return wide;
}

using test::Blocks;
using test::kUntouched;

struct Progress {
  std::vector<std::vector<int>> calls;
  int stopAtCall = -1;  // the 0-based call that asks to stop
};

int __stdcall RecordProgress(int done, int total, LONG_PTR data) {
  auto* progress = reinterpret_cast<Progress*>(data);
  progress->calls.push_back({done, total});
  return int(progress->calls.size()) - 1 == progress->stopAtCall ? 1 : 0;
}

class Pictures : public testing::Test {
 protected:
  void SetUp() override {
    test::DeleteSettingsKey();
    Reload();
    StandinSetMode(Mode::Pattern);
  }
  void TearDown() override {
    test::DeleteSettingsKey();
    StandinSetMode(Mode::Normal);
    EXPECT_EQ(StandinRecord().liveObjects, 0) << "an extractor object was not released";
  }

  void Reload() {
    plugin_.Reload();
    picture_ = plugin_.Get<test::GetPictureFn>("GetPicture");
    preview_ = plugin_.Get<test::GetPictureFn>("GetPreview");
  }
  void UseSize(int32_t width, int32_t height) {
    test::WriteDword("width", DWORD(width));
    test::WriteDword("height", DWORD(height));
    Reload();
  }
  int Picture(Blocks& blocks, const char* path = kPage, unsigned int kind = 0, Progress* progress = nullptr) {
    return picture_(path, 0, kind, &blocks.header, &blocks.bits, progress ? RecordProgress : nullptr,
                    reinterpret_cast<LONG_PTR>(progress));
  }

  // Row k of the block must be the capture's row height-1-k: `bytes` of it, the rest as `filler`.
  void ExpectPatternRows(const Blocks& blocks, int width, int height, int patternWidth, int patternHeight) {
    const std::vector<uint8_t> pixels = blocks.Bytes(blocks.bits);
    const int stride = Stride(width);
    ASSERT_EQ(pixels.size(), size_t(stride) * height);
    for (int row = 0; row < height; ++row) {
      const uint8_t* line = &pixels[size_t(height - 1 - row) * stride];
      for (int i = 0; i < 3 * width; ++i) {
        const bool captured = row < patternHeight && i < 3 * patternWidth;
        const uint8_t expected = captured ? standin::PatternByte(row, i) : 0xFF;
        if (line[i] != expected) FAIL() << "row " << row << " byte " << i;
      }
    }
  }

  test::PluginModule plugin_;
  test::GetPictureFn picture_ = nullptr;
  test::GetPictureFn preview_ = nullptr;
};

TEST_F(Pictures, DeliversHeaderAndBottomUpRowsInMovableUnlockedBlocks) {
  for (Mode mode : {Mode::Pattern, Mode::PatternTopDown}) {
    SCOPED_TRACE(int(mode));
    StandinSetMode(mode);
    Blocks blocks;
    ASSERT_EQ(Picture(blocks), 0);

    const unsigned char header[40] = {40, 0, 0, 0, 0x20, 3, 0, 0, 0x58, 2, 0, 0, 1, 0, 24, 0,
                                      0,  0, 0, 0, 0,    0xF9, 0x15, 0};
    EXPECT_EQ(blocks.Bytes(blocks.header), std::vector<uint8_t>(header, header + 40));
    EXPECT_EQ(LocalSize(blocks.header), 40u);
    EXPECT_EQ(LocalSize(blocks.bits), 1440000u);
    for (HLOCAL block : {blocks.header, blocks.bits}) {
      EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 0u);
      void* address = LocalLock(block);
      EXPECT_NE(address, static_cast<void*>(block)) << "a fixed block, not a movable one";
      LocalUnlock(block);
    }
    // Byte for byte, trailing row bytes included (800 pixels leave none; the stride table checks them).
    const std::vector<uint8_t> pixels = blocks.Bytes(blocks.bits);
    for (int row : {0, 1, 299, 598, 599}) {
      SCOPED_TRACE(row);
      const uint8_t* line = &pixels[size_t(599 - row) * 2400];
      for (int i = 0; i < 2400; ++i) ASSERT_EQ(line[i], standin::PatternByte(row, i)) << i;
    }

    const standin::Record record = StandinRecord();
    EXPECT_EQ(record.size.cx, 800);
    EXPECT_EQ(record.size.cy, 600);
    EXPECT_EQ(record.depth, 24u);
    EXPECT_EQ(record.flags, 524u);
    EXPECT_EQ(record.capacity, 256u);
    EXPECT_TRUE(record.locationZeroed);
    EXPECT_EQ(record.priority, 0u);
    EXPECT_EQ(record.loadMode, DWORD(STGM_READ));
    EXPECT_EQ(std::wstring(record.path), Widen(kPage));
    EXPECT_EQ(GetObjectType(record.lastBitmap), 0u) << "the captured bitmap was not deleted";
    EXPECT_EQ(record.releasesOutsideApartment, 0);
  }
}

TEST_F(Pictures, RowsFollowTheStrideTable) {
  struct Case { int width; int stride; };
  const Case cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {1023, 3072}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    UseSize(c.width, 3);
    Blocks blocks;
    ASSERT_EQ(Picture(blocks), 0);
    const std::vector<uint8_t> pixels = blocks.Bytes(blocks.bits);
    ASSERT_EQ(pixels.size(), size_t(c.stride) * 3);
    for (int row = 0; row < 3; ++row)
      for (int i = 0; i < c.stride; ++i)
        ASSERT_EQ(pixels[size_t(2 - row) * c.stride + i], standin::PatternByte(row, i)) << row << "/" << i;
  }
}

// Hosts copy exactly as many pixel bytes as the header's image-size field says.
TEST_F(Pictures, ImageSizeFieldIsStrideTimesHeight) {
  struct Case { int width; int height; uint32_t size; };
  const Case cases[] = {{1, 1, 4}, {2, 3, 24}, {37, 23, 2576}, {1023, 3, 9216}, {800, 600, 1440000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    UseSize(c.width, c.height);
    for (test::GetPictureFn entry : {picture_, preview_}) {
      Blocks blocks;
      ASSERT_EQ(entry(kPage, 0, 0, &blocks.header, &blocks.bits, nullptr, 0), 0);
      const std::vector<uint8_t> header = blocks.Bytes(blocks.header);
      uint32_t field = 0;
      std::memcpy(&field, &header[20], sizeof field);
      EXPECT_EQ(field, c.size);
      EXPECT_EQ(field, uint32_t(Stride(c.width) * c.height));
      EXPECT_EQ(LocalSize(blocks.bits), c.size);
    }
  }
}

TEST_F(Pictures, AsksTheCallbackBeforeAndAfterTheWork) {
  Progress progress;
  Blocks blocks;
  EXPECT_EQ(Picture(blocks, kPage, 0, &progress), 0);
  EXPECT_EQ(progress.calls, (std::vector<std::vector<int>>{{0, 1}, {1, 1}}));
}

TEST_F(Pictures, StopBeforeTheWorkTouchesNothing) {
  Progress progress;
  progress.stopAtCall = 0;
  Blocks blocks;
  EXPECT_EQ(Picture(blocks, kPage, 0, &progress), 1);
  EXPECT_EQ(progress.calls.size(), 1u);
  EXPECT_EQ(blocks.header, kUntouched);
  EXPECT_EQ(blocks.bits, kUntouched);
  EXPECT_EQ(StandinRecord().objectsCreated, 0);
}

TEST_F(Pictures, StopAfterTheWorkFreesThePicture) {
  for (Mode mode : {Mode::Pattern, Mode::ExtractFails}) {
    SCOPED_TRACE(int(mode));
    StandinSetMode(mode);
    Progress progress;
    progress.stopAtCall = 1;
    Blocks blocks;
    EXPECT_EQ(Picture(blocks, kPage, 0, &progress), 1);
    EXPECT_EQ(progress.calls.size(), 2u);
    EXPECT_EQ(blocks.header, nullptr);
    EXPECT_EQ(blocks.bits, nullptr);
    EXPECT_EQ(StandinRecord().objectsCreated, 1);
  }
}

TEST_F(Pictures, OnlyTheLowThreeKindBitsMarkANonFile) {
  struct Case { unsigned int kind; int result; };
  const Case cases[] = {{1, 2}, {2, 2}, {4, 2}, {7, 2}, {9, 2}, {0xFFFFFFFF, 2}, {8, 0}, {0x10, 0}, {0xFFFFFFF8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Progress progress;
    Blocks blocks;
    EXPECT_EQ(Picture(blocks, kPage, c.kind, &progress), c.result);
    if (c.result == 2) {
      EXPECT_TRUE(progress.calls.empty());
      EXPECT_EQ(blocks.header, kUntouched);
      EXPECT_EQ(blocks.bits, kUntouched);
    }
  }
  Blocks blocks;
  EXPECT_EQ(picture_(kPage, 0, 1, &blocks.header, &blocks.bits, nullptr, 0), 2) << "without a callback";
}

TEST_F(Pictures, FlagWordsReachTheExtractorUnchanged) {
  struct Case { DWORD flag1; DWORD flag2; };
  const Case cases[] = {{524, 8}, {0xFFFFFFFF, 0x80000001}, {0x10 | 0x80 | 0x100, 0}, {0x400, 0x7FFFFFFF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flag1 << "/" << c.flag2);
    test::WriteDword("flag1", c.flag1);
    test::WriteDword("flag2", c.flag2);
    Reload();
    Blocks picture, preview;
    ASSERT_EQ(Picture(picture), 0);
    EXPECT_EQ(StandinRecord().flags, c.flag1);
    ASSERT_EQ(preview_(kPage, 0, 0, &preview.header, &preview.bits, nullptr, 0), 0);
    const standin::Record record = StandinRecord();
    EXPECT_EQ(record.flags, c.flag2);
    EXPECT_EQ(record.size.cx, 800);
    EXPECT_EQ(record.size.cy, 600);
    EXPECT_EQ(picture.Bytes(picture.header), preview.Bytes(preview.header));
  }
}

TEST_F(Pictures, SizesDecideBetween4And5BeforeAnyCapture) {
  struct Case { int32_t width; int32_t height; int result; };
  const Case cases[] = {
      {0, 600, 5},          {800, 0, 5},      {0, 0, 5},         {-1, 600, 4},      {800, -1, 4},
      {INT_MIN, INT_MIN, 4}, {INT_MAX, 1, 4}, {715827882, 1, 4}, {65536, 65536, 4}, {1, INT_MAX, 4},
#ifndef _WIN64
      {23000, 23000, 4},  // fits 32 bits, but no 32-bit process has 1.5 GB in one piece to spare
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    UseSize(c.width, c.height);
    StandinSetMode(Mode::Pattern);
    Blocks blocks;
    EXPECT_EQ(Picture(blocks), c.result);
    EXPECT_EQ(blocks.header, nullptr);
    EXPECT_EQ(blocks.bits, nullptr);
    EXPECT_EQ(StandinRecord().objectsCreated, 0);
  }
}

TEST_F(Pictures, ExtractorFailuresGive8AndLeaveNothing) {
  const Mode modes[] = {Mode::ExtractFails,  Mode::NullBitmap,         Mode::NoExtractImage,
                        Mode::NoPersistFile, Mode::ExtractImageSFalse, Mode::CreateFails};
  for (Mode mode : modes) {
    SCOPED_TRACE(int(mode));
    StandinSetMode(mode);
    Blocks blocks;
    EXPECT_EQ(Picture(blocks), 8);
    EXPECT_EQ(blocks.header, nullptr);
    EXPECT_EQ(blocks.bits, nullptr);
    const standin::Record record = StandinRecord();
    EXPECT_EQ(record.liveObjects, 0);
    EXPECT_EQ(record.releasesOutsideApartment, 0);
  }
}

TEST_F(Pictures, NullPointersGive8WithoutWork) {
  HLOCAL other = kUntouched;
  EXPECT_EQ(picture_(kPage, 0, 0, nullptr, &other, nullptr, 0), 8);
  EXPECT_EQ(other, kUntouched);
  EXPECT_EQ(picture_(kPage, 0, 0, &other, nullptr, nullptr, 0), 8);
  EXPECT_EQ(other, kUntouched);
  Blocks blocks;
  EXPECT_EQ(picture_(nullptr, 0, 0, &blocks.header, &blocks.bits, nullptr, 0), 8);
  EXPECT_EQ(blocks.header, nullptr);
  EXPECT_EQ(blocks.bits, nullptr);
  EXPECT_EQ(StandinRecord().objectsCreated, 0);
}

TEST_F(Pictures, SFalseAndAFailedLoadStillDeliver) {
  for (Mode mode : {Mode::ExtractSFalse, Mode::LoadFails}) {
    SCOPED_TRACE(int(mode));
    StandinSetMode(mode);
    UseSize(37, 23);
    Blocks blocks;
    ASSERT_EQ(Picture(blocks), 0);
    ExpectPatternRows(blocks, 37, 23, 37, 23);
  }
}

TEST_F(Pictures, MismatchedCapturesAreCutOrConverted) {
  // 37 pixels leave one trailing byte per row; a converted row's trailing bytes are 0.
  constexpr int kWidth = 37, kHeight = 23;
  UseSize(kWidth, kHeight);
  {
    SCOPED_TRACE("larger: the top-left part, byte for byte");
    StandinSetMode(Mode::Larger);
    Blocks blocks;
    ASSERT_EQ(Picture(blocks), 0);
    const std::vector<uint8_t> pixels = blocks.Bytes(blocks.bits);
    for (int row = 0; row < kHeight; ++row)
      for (int i = 0; i < Stride(kWidth); ++i)
        ASSERT_EQ(pixels[size_t(kHeight - 1 - row) * Stride(kWidth) + i], standin::PatternByte(row, i));
  }
  HDC screen = GetDC(nullptr);
  const int screenBits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  struct Case { Mode mode; int width; int height; };
  const Case cases[] = {{Mode::Smaller, kWidth / 2, kHeight / 2},
                        {Mode::Bits32, kWidth, kHeight},
                        {Mode::DeviceDependent, kWidth, kHeight}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode));
    if (c.mode == Mode::DeviceDependent && screenBits < 24) continue;  // the screen itself loses colours
    StandinSetMode(c.mode);
    Blocks blocks;
    ASSERT_EQ(Picture(blocks), 0);
    ExpectPatternRows(blocks, kWidth, kHeight, c.width, c.height);
    const std::vector<uint8_t> pixels = blocks.Bytes(blocks.bits);
    for (int row = 0; row < kHeight; ++row) EXPECT_EQ(pixels[size_t(row) * Stride(kWidth) + 3 * kWidth], 0);
    EXPECT_EQ(GetObjectType(StandinRecord().lastBitmap), 0u);
  }
}

// Paths of MAX_PATH characters or more exist only through their "\\?\" form; the plug-in still finds
// the file behind the plain form a host hands over, and the extractor gets that plain form.
TEST_F(Pictures, PathsReachTheExtractorThroughTheAnsiCodePage) {
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  std::string longPath = std::string(temp) + "zelnar-long";
  std::vector<std::string> folders{longPath};
  while (longPath.size() < 300) {
    longPath += "\\" + std::string(80, 'd');
    folders.push_back(longPath);
  }
  auto longForm = [](const std::string& path) { return L"\\\\?\\" + Widen(path); };
  for (const std::string& folder : folders) CreateDirectoryW(longForm(folder).c_str(), nullptr);
  longPath += "\\page.htm";
  const std::string accented = std::string(temp) + "caf\xE9 \xA9.htm";
  for (const std::string& path : {longPath, accented}) {
    SCOPED_TRACE(path);
    HANDLE file = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    Blocks blocks;
    EXPECT_EQ(Picture(blocks, path.c_str()), 0);
    const standin::Record record = StandinRecord();
    EXPECT_EQ(std::wstring(record.path), Widen(path));
    EXPECT_EQ(record.capacity, 256u);
    DeleteFileW(longForm(path).c_str());
  }
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
    RemoveDirectoryW(longForm(*folder).c_str());
}

TEST_F(Pictures, DrawsARealPageInNormalMode) {
  char directory[MAX_PATH], file[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, directory), 0u);
  ASSERT_NE(GetTempFileNameA(directory, "pg", 0, file), 0u);
  HANDLE handle = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const char html[] = "<html><head><title>Title</title></head><body><p>Text</p></body></html>";
  DWORD written = 0;
  WriteFile(handle, html, sizeof html - 1, &written, nullptr);
  CloseHandle(handle);

  StandinSetMode(Mode::Normal);
  Blocks blocks;
  EXPECT_EQ(Picture(blocks, file), 0);
  EXPECT_EQ(std::wstring(StandinRecord().path), Widen(file));
  ASSERT_EQ(LocalSize(blocks.bits), 1440000u);
  DeleteFileA(file);

  // The title is drawn dark near the top; the far corner stays white. Rows are stored bottom-up.
  const std::vector<uint8_t> pixels = blocks.Bytes(blocks.bits);
  const int stride = Stride(800);
  auto row = [&](int fromTop) { return &pixels[size_t(599 - fromTop) * stride]; };
  bool darkInTitle = false;
  for (int y = 0; y < 60 && !darkInTitle; ++y)
    for (int i = 0; i < 3 * 400 && !darkInTitle; ++i) darkInTitle = row(y)[i] < 0x80;
  EXPECT_TRUE(darkInTitle) << "no dark pixel where the title is drawn";
  const uint8_t* corner = row(599) + 3 * 799;
  EXPECT_EQ(corner[0], 0xFF);
  EXPECT_EQ(corner[1], 0xFF);
  EXPECT_EQ(corner[2], 0xFF);
}

// Each call makes the thread an apartment for its duration only.
TEST_F(Pictures, LeavesTheThreadsComStateAsItFoundIt) {
  struct Outcome { int result = -1; HRESULT after = E_UNEXPECTED; };
  auto run = [this](DWORD before, DWORD probe) {
    Outcome outcome;
    std::thread([&] {
      const bool joined = before != DWORD(-1) && SUCCEEDED(CoInitializeEx(nullptr, before));
      Blocks blocks;
      outcome.result = Picture(blocks);
      outcome.after = CoInitializeEx(nullptr, probe);
      if (SUCCEEDED(outcome.after)) CoUninitialize();
      if (joined) CoUninitialize();
    }).join();
    return outcome;
  };
  const Outcome fresh = run(DWORD(-1), COINIT_APARTMENTTHREADED);
  EXPECT_EQ(fresh.result, 0);
  EXPECT_EQ(fresh.after, S_OK) << "COM was left initialised";
  const Outcome single = run(COINIT_APARTMENTTHREADED, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(single.result, 0);
  EXPECT_EQ(single.after, S_FALSE) << "the caller's apartment was left";
  const Outcome multi = run(COINIT_MULTITHREADED, COINIT_MULTITHREADED);
  EXPECT_EQ(multi.result, 0) << "the capture goes on in the caller's multithreaded apartment";
  EXPECT_EQ(multi.after, S_FALSE);
}

// Each captured bitmap is checked by handle: GDI object counts are not kept under Wine.
TEST_F(Pictures, ThousandCallsLeaveNoMemoryAndNoGdiObjects) {
  auto call = [this](Mode mode, int count) {
    StandinSetMode(mode);
    for (int i = 0; i < count; ++i) {
      Blocks blocks;
      ASSERT_EQ(Picture(blocks), 0);
      ASSERT_EQ(GetObjectType(StandinRecord().lastBitmap), 0u) << "the captured bitmap was not deleted";
    }
  };
  const Mode converted[] = {Mode::Bits32, Mode::Smaller, Mode::DeviceDependent};
  call(Mode::Ready, 10);
  for (Mode mode : converted) call(mode, 2);
  const uint64_t privateBefore = test::PrivateUsage();
  const uint64_t committedBefore = test::CommittedPrivateBytes();
  call(Mode::Ready, 1000);
  for (Mode mode : converted) call(mode, 30);
  constexpr int64_t kSlack = 1 << 20;
  EXPECT_LT(int64_t(test::PrivateUsage()) - int64_t(privateBefore), kSlack);
  EXPECT_LT(int64_t(test::CommittedPrivateBytes()) - int64_t(committedBefore), kSlack);
}

// A debugger sees one line per failure, naming the export, the step and the code; success says nothing.
TEST_F(Pictures, FailuresSayWhyToADebuggerAndSuccessIsSilent) {
  const test::DebugOutput output;
  test::DebugOutput::Take();
  struct Case { Mode mode; unsigned int kind; const char* line; };
  const Case cases[] = {
      {Mode::Pattern, 0, nullptr},
      {Mode::Pattern, 1, "zelnar: GetPicture: the input is not a file; input kind (0x00000001)"},
      {Mode::ExtractFails, 0, "zelnar: GetPicture: IExtractImage::Extract (0x80004005)"},
      {Mode::NullBitmap, 0, "zelnar: GetPicture: IExtractImage::Extract gave no bitmap"},
      {Mode::CreateFails, 0, "zelnar: GetPicture: the HTML thumbnail extractor cannot be created (0x8007000E)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line ? c.line : "success");
    StandinSetMode(c.mode);
    Blocks blocks;
    Picture(blocks, kPage, c.kind);
    const std::vector<std::string> lines = test::DebugOutput::Take();
    if (!c.line) {
      EXPECT_TRUE(lines.empty()) << lines.front();
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c.line);
  }
}

// A block left behind by a failure is never touched, so only committed pages show it.
TEST_F(Pictures, FailuresAndStopsLeaveNoBlocks) {
  const uint64_t before = test::CommittedPrivateBytes();
  for (int i = 0; i < 40; ++i) {
    StandinSetMode(i % 2 ? Mode::ExtractFails : Mode::NoExtractImage);
    Blocks failed;
    ASSERT_EQ(Picture(failed), 8);
    StandinSetMode(Mode::Ready);
    Progress progress;
    progress.stopAtCall = 1;
    Blocks stopped;
    ASSERT_EQ(Picture(stopped, kPage, 0, &progress), 1);
  }
  EXPECT_LT(int64_t(test::CommittedPrivateBytes()) - int64_t(before), int64_t(1) << 20);
}

}  // namespace
