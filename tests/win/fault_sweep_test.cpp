// Every failure point of each host request, made to fail one at a time: a run counts the calls the
// plug-in makes through its imports, then each call in turn fails. After every injected failure the
// result must be a defined one, nothing may be handed over on failure, nothing may stay acquired, and
// the next call without a failure must give the normal result again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fault_injector.h"
#include "tests/support/page_file.h"
#include "tests/support/plugin_module.h"
#include "tests/support/process_memory.h"
#include "tests/support/self_bound_module.h"
#include "tests/support/settings_key.h"
#include "tools/standin/standin_control.h"

namespace {

using standin::Mode;
using test::Import;

const test::PageFile kPageFile("page.shtml");
const char* const kPage = kPageFile.Path();
// Longer than a short string's inline room: copying it allocates.
constexpr char kStoredList[] = "*.html;*.htm;*.shtml;*.xhtml";
constexpr int32_t kStoredWidth = 8, kStoredHeight = 5;
constexpr DWORD kStoredFlag1 = 0x20C | 0x1000, kStoredFlag2 = 0x8 | 0x40;

void StoreSettings() {
  test::DeleteSettingsKey();
  test::WriteDword("width", kStoredWidth);
  test::WriteDword("height", kStoredHeight);
  test::WriteDword("flag1", kStoredFlag1);
  test::WriteDword("flag2", kStoredFlag2);
  test::WriteString("ext", kStoredList);
}

standin::Record StandinRecord() {
  standin::Record record;
  StandinGetRecord(&record);
  return record;
}

std::vector<uint8_t> BlockBytes(HLOCAL block) {
  const auto* p = static_cast<const uint8_t*>(LocalLock(block));
  if (!p) return {};
  std::vector<uint8_t> bytes(p, p + LocalSize(block));
  LocalUnlock(block);
  return bytes;
}

// What one request gave, reduced to what can be compared with the normal run.
struct Answer {
  int result = -1;
  std::vector<uint8_t> header, pixels;  // pictures only
  std::string text;                      // identity strings only
  bool operator==(const Answer& other) const {
    return result == other.result && header == other.header && pixels == other.pixels && text == other.text;
  }
};

// Which results each failing import led to, over all its failure points.
using OutcomeTable = std::map<std::string, std::map<int, int>>;

void PrintTable(const std::string& request, int points, const OutcomeTable& table) {
  std::printf("[sweep] %s: %d failure points\n", request.c_str(), points);
  for (const auto& [name, results] : table) {
    std::printf("[sweep]   %-22s", name.c_str());
    for (const auto& [result, count] : results) std::printf(" result %d x%d;", result, count);
    std::printf("\n");
  }
}

class FaultSweep : public testing::Test {
 protected:
  void SetUp() override {
    StoreSettings();
    plugin_ = std::make_unique<test::PluginModule>();
    injector_ = std::make_unique<test::FaultInjector>(plugin_->Handle());
    ASSERT_GT(injector_->Patched(), 20);
    picture_ = plugin_->Get<test::GetPictureFn>("GetPicture");
    preview_ = plugin_->Get<test::GetPictureFn>("GetPreview");
    // The first error raised on a thread sets up the runtime's per-thread exception state, once.
    StandinSetMode(Mode::CreateFails);
    HLOCAL header = nullptr, bits = nullptr;
    picture_(kPage, 0, 0, &header, &bits, nullptr, 0);
  }
  void TearDown() override {
    injector_.reset();
    plugin_.reset();
    StandinSetMode(Mode::Normal);
    test::DeleteSettingsKey();
  }

  // Runs `request` with nothing failing, then once per failure point; `judge` checks each injected
  // answer against the normal one. Returns the number of failure points.
  int Sweep(const std::string& name, const std::function<Answer()>& request,
            const std::function<void(const Answer& normal, const Answer& injected)>& judge) {
    injector_->Arm();
    const Answer normal = request();
    injector_->Disarm();
    EXPECT_TRUE(injector_->Held().Empty()) << name << " without failures: " << injector_->Held().Describe();
    int counts[test::kImportCount];
    for (int i = 0; i < test::kImportCount; ++i) counts[i] = injector_->Calls(Import(i));

    int points = 0;
    OutcomeTable table;
    for (int i = 0; i < test::kImportCount; ++i) {
      for (int n = 1; n <= counts[i]; ++n) {
        ++points;
        SCOPED_TRACE(testing::Message() << name << ": call " << n << " of " << test::ImportName(Import(i)));
        injector_->Arm(Import(i), n);
        const Answer injected = request();
        injector_->Disarm();
        EXPECT_TRUE(injector_->Injected()) << "the call count changed between runs";
        ++table[test::ImportName(Import(i))][injected.result];
        judge(normal, injected);
        test::Holdings held = injector_->Held();
        injector_->CleanUpAfterFailedReleases();
        if (!held.Empty()) {
          // Something the runtime sets up on first use (a lock it creates lazily) stays for good; a
          // leak comes back with every repeat of the same failure.
          std::printf("[sweep] %s, call %d of %s: kept once: %s\n", name.c_str(), n, test::ImportName(Import(i)),
                      held.Describe().c_str());
          injector_->Arm(Import(i), n);
          request();
          injector_->Disarm();
          held = injector_->Held();
          injector_->CleanUpAfterFailedReleases();
        }
        EXPECT_TRUE(held.Empty()) << held.Describe();
        const standin::Record record = StandinRecord();
        EXPECT_EQ(record.liveObjects, 0) << "an extractor object was not released";
        EXPECT_EQ(record.releasesOutsideApartment, 0);
        if (record.lastBitmap) {
          EXPECT_EQ(GetObjectType(record.lastBitmap), 0u) << "the captured bitmap was kept";
        }
        EXPECT_EQ(request(), normal) << "the next call without a failure";
      }
    }
    PrintTable(name, points, table);
    return points;
  }

  // GetPicture or GetPreview; on success the host's blocks are read and freed, as a host does.
  Answer TakePicture(test::GetPictureFn fn) {
    HLOCAL header = reinterpret_cast<HLOCAL>(uintptr_t(0x5A5A5A5A)), bits = header;
    Answer answer;
    answer.result = fn(kPage, 0, 0, &header, &bits, nullptr, 0);
    if (answer.result != 0) {
      EXPECT_EQ(header, nullptr) << "result " << answer.result;
      EXPECT_EQ(bits, nullptr) << "result " << answer.result;
      return answer;
    }
    injector_->HandedOver(header);
    injector_->HandedOver(bits);
    // A block whose unlock was made to fail stays locked: the system kept the lock, not the plug-in.
    if (injector_->Failed() != Import::LocalUnlock) {
      for (HLOCAL block : {header, bits}) EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 0u);
    }
    answer.header = BlockBytes(header);
    answer.pixels = BlockBytes(bits);
    LocalFree(header);
    LocalFree(bits);
    return answer;
  }

  std::unique_ptr<test::PluginModule> plugin_;
  std::unique_ptr<test::FaultInjector> injector_;
  test::GetPictureFn picture_ = nullptr;
  test::GetPictureFn preview_ = nullptr;
};

// A failed picture is one of the failure results with nothing handed over; a success is the picture.
void JudgePicture(const Answer& normal, const Answer& injected) {
  if (injected.result == 0) {
    EXPECT_EQ(injected, normal) << "a success with another picture";
    return;
  }
  EXPECT_TRUE(injected.result == 4 || injected.result == 5 || injected.result == 8) << injected.result;
}

TEST_F(FaultSweep, GetPictureAndGetPreviewInEveryStandInMode) {
  struct Case { const char* name; Mode mode; bool preview; int normalResult; };
  const Case cases[] = {
      {"GetPicture, bottom-up capture", Mode::Pattern, false, 0},
      {"GetPicture, top-down capture", Mode::PatternTopDown, false, 0},
      {"GetPicture, smaller capture (converted)", Mode::Smaller, false, 0},
      {"GetPicture, 32-bit capture (converted)", Mode::Bits32, false, 0},
      {"GetPicture, device-dependent capture", Mode::DeviceDependent, false, 0},
      {"GetPicture, Extract fails", Mode::ExtractFails, false, 8},
      {"GetPicture, no IExtractImage", Mode::NoExtractImage, false, 8},
      {"GetPreview, bottom-up capture", Mode::Pattern, true, 0},
  };
  // Each mode once, so that what the stand-in and GDI set up for good is there before measuring.
  for (const Case& c : cases) {
    StandinSetMode(c.mode);
    TakePicture(c.preview ? preview_ : picture_);
  }
  uint64_t before = 0;
  int total = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandinSetMode(c.mode);
    const test::GetPictureFn fn = c.preview ? preview_ : picture_;
    ASSERT_EQ(TakePicture(fn).result, c.normalResult);
    total += Sweep(c.name, [&] { return TakePicture(fn); }, JudgePicture);
    // The first pass pays for what Wine and the runtime set up once; growth is measured after it.
    if (before == 0) before = test::CommittedPrivateBytes();
  }
  EXPECT_GT(total, 100);
  EXPECT_LT(int64_t(test::CommittedPrivateBytes()) - int64_t(before), int64_t(2) << 20) << "the heap grew";
}

TEST_F(FaultSweep, IsSupported) {
  const auto isSupported = plugin_->Get<test::IsSupportedFn>("IsSupported");
  ASSERT_EQ(isSupported(kPage, 0), 1);
  const int points = Sweep("IsSupported", [&] {
    Answer answer;
    answer.result = isSupported(kPage, 0);
    return answer;
  },
                           [](const Answer& normal, const Answer& injected) {
                             EXPECT_TRUE(injected.result == 0 || injected == normal) << injected.result;
                           });
  EXPECT_EQ(points, 0) << "the list was compiled when it was stored: a call needs nothing more";
}

TEST_F(FaultSweep, IsSupportedW) {
  const auto isSupported = plugin_->Get<test::IsSupportedWFn>("IsSupportedW");
  const std::wstring page(kPage, kPage + std::strlen(kPage));  // ASCII: the temporary folder's path
  struct Case { const char* name; std::wstring path; int minPoints, maxPoints; };
  const Case cases[] = {
      // An ASCII name part is copied as it is: nothing is called that could fail.
      {"IsSupportedW, ASCII name", page, 0, 0},
      // Another character goes through the code page (no ASCII-only code page is in use here).
      {"IsSupportedW, accented name", L"C:\\d\u00E9j\u00E0\\\u00E9t\u00E9.htm", 1, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(isSupported(c.path.c_str(), 0), 1);
    const int points = Sweep(c.name, [&] {
      Answer answer;
      answer.result = isSupported(c.path.c_str(), 0);
      return answer;
    },
                             [](const Answer& normal, const Answer& injected) {
                               EXPECT_TRUE(injected.result == 0 || injected == normal) << injected.result;
                             });
    EXPECT_GE(points, c.minPoints);
    EXPECT_LE(points, c.maxPoints);
  }
}

TEST_F(FaultSweep, GetPluginInfo) {
  const auto info = plugin_->Get<test::GetPluginInfoFn>("GetPluginInfo");
  auto ask = [&] {
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    Answer answer;
    answer.result = info(2, buffer, sizeof buffer);
    answer.text.assign(buffer, strnlen(buffer, sizeof buffer));
    return answer;
  };
  ASSERT_EQ(ask().text, kStoredList);
  const int points = Sweep("GetPluginInfo", ask, [](const Answer& normal, const Answer& injected) {
    // A failure answers 0 with the empty string in the buffer: a host that reads it finds no garbage.
    EXPECT_TRUE((injected.result == 0 && injected.text.empty()) || injected == normal) << injected.result;
  });
  EXPECT_GT(points, 0);
}

}  // namespace

// The module's load with stored settings under injection. The module is bound by the test, so the
// injector is in place from the entry point's first instruction; failures are injected from the
// settings load's first registry call on. (Before that, the static runtime starts: winpthreads'
// pthread_once dereferences a failed malloc there, in code of the toolchain, not ours.) The record
// must then hold every stored value or none of them.
namespace {

struct Loaded {
  bool attached = false;
  std::string list;
  SIZE size{};
  DWORD flag1 = 0, flag2 = 0;
};

// Reads back what the loaded module's record holds through its exports and the stand-in's record.
Loaded Observe(test::SelfBoundModule& module) {
  Loaded seen;
  seen.attached = true;
  char buffer[64] = {};
  module.Get<test::GetPluginInfoFn>("GetPluginInfo")(2, buffer, sizeof buffer);
  seen.list = buffer;
  StandinSetMode(Mode::Ready);
  for (bool preview : {false, true}) {
    HLOCAL header = nullptr, bits = nullptr;
    const auto fn = module.Get<test::GetPictureFn>(preview ? "GetPreview" : "GetPicture");
    EXPECT_EQ(fn(kPage, 0, 0, &header, &bits, nullptr, 0), 0);
    LocalFree(header);
    LocalFree(bits);
    const standin::Record record = StandinRecord();
    (preview ? seen.flag2 : seen.flag1) = record.flags;
    seen.size = record.size;
  }
  return seen;
}

bool IsStored(const Loaded& seen) {
  return seen.list == kStoredList && seen.size.cx == kStoredWidth && seen.size.cy == kStoredHeight &&
         seen.flag1 == kStoredFlag1 && seen.flag2 == kStoredFlag2;
}

bool IsDefault(const Loaded& seen) {
  return seen.list == "*.html;*.htm" && seen.size.cx == 800 && seen.size.cy == 600 && seen.flag1 == 524 &&
         seen.flag2 == 8;
}

TEST(LoadFaultSweep, ALoadWithStoredSettingsKeepsAllOrNone) {
  StoreSettings();
  // Warm up: COM loads the stand-in, and this thread's runtime state exists.
  { test::PluginModule warm; }

  // Loads, attaches under injection, reads the record back and detaches; the ledger covers attach
  // and detach together, so what static initialisation acquires must be released by detaching.
  auto load = [](Import import, int n, test::Holdings* held, bool* injected, int* counts) {
    test::SelfBoundModule module(test::kPluginFile);
    Loaded seen;
    {
      test::FaultInjector injector(module.Handle());
      injector.ArmFrom(Import::RegOpenKeyExA, import, n);
      const bool attached = module.Attach();
      injector.Disarm();
      if (attached) seen = Observe(module);
      injector.Resume();
      module.Detach();
      injector.Disarm();
      *held = injector.Held();
      *injected = injector.Injected();
      if (counts)
        for (int i = 0; i < test::kImportCount; ++i) counts[i] = injector.Calls(Import(i));
      injector.CleanUpAfterFailedReleases();
    }
    return seen;
  };

  int counts[test::kImportCount];
  test::Holdings held;
  bool injected = false;
  const Loaded normal = load(Import::Count, 0, &held, &injected, counts);
  ASSERT_TRUE(normal.attached);
  EXPECT_TRUE(IsStored(normal)) << normal.list << " " << normal.size.cx << "x" << normal.size.cy;
  EXPECT_TRUE(held.Empty()) << held.Describe();

  // A load whose settings read raises, without any injection: the first error raised in a module
  // instance sets up the runtime's per-thread exception state, which its unload does not free. That
  // much may stay behind after any raising load; the plug-in's own blocks may not.
  test::WriteString("flag2", "8");
  const Loaded raising = load(Import::Count, 0, &held, &injected, nullptr);
  ASSERT_TRUE(IsDefault(raising));
  const size_t runtimeBlocks = held.heapBlocks.size();
  std::printf("[sweep] a raising load leaves %s\n", held.Describe().c_str());
  EXPECT_LE(runtimeBlocks, 16u);
  StoreSettings();

  int points = 0;
  OutcomeTable table;
  for (int i = 0; i < test::kImportCount; ++i) {
    for (int n = 1; n <= counts[i]; ++n) {
      ++points;
      SCOPED_TRACE(testing::Message() << "call " << n << " of " << test::ImportName(Import(i)));
      const Loaded seen = load(Import(i), n, &held, &injected, nullptr);
      EXPECT_TRUE(injected);
      // 0: the module refused to load (its runtime could not start); 1: defaults; 2: stored values.
      const int outcome = !seen.attached ? 0 : IsStored(seen) ? 2 : IsDefault(seen) ? 1 : -1;
      ++table[test::ImportName(Import(i))][outcome];
      EXPECT_NE(outcome, -1) << "a mixture of stored and default values: " << seen.list << " " << seen.size.cx
                             << "x" << seen.size.cy << " " << seen.flag1 << "/" << seen.flag2;
      EXPECT_LE(held.heapBlocks.size(), runtimeBlocks) << held.Describe();
      held.heapBlocks.clear();
      EXPECT_TRUE(held.Empty()) << held.Describe();
      EXPECT_EQ(StandinRecord().liveObjects, 0);
      EXPECT_TRUE(IsStored(load(Import::Count, 0, &held, &injected, nullptr))) << "the next load";
    }
  }
  PrintTable("DLL load with stored settings (outcome 0 refused, 1 defaults, 2 stored)", points, table);
  EXPECT_GT(points, 10);
  test::DeleteSettingsKey();
  StandinSetMode(Mode::Normal);
}

}  // namespace
