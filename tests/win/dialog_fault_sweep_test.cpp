// The settings dialog under injected failures: ConfigurationDlg opened by a host, new values typed
// and confirmed with OK, while one call of the plug-in fails. Every run must end: the dialog either
// never opens (a message says why, result 8) or it saves, or it says why it could not, and stays
// usable; no window, class, GDI object, key or block may stay behind, and the host's window is
// enabled again.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/page_file.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/fault_injector.h"
#include "tests/support/plugin_module.h"
#include "tests/support/settings_key.h"
#include "tools/standin/standin_control.h"

namespace {

const test::PageFile kPageFile("page.htm");

using test::Import;

// Two sets of new values, typed alternately, so that every save is visible as a change.
struct Values {
  const wchar_t* width;
  const wchar_t* height;
  const char* list;
  DWORD widthValue;
  DWORD heightValue;
};
constexpr Values kValues[] = {{L"640", L"480", "*.htm;*.first-long-pattern", 640, 480},
                              {L"320", L"240", "*.htm;*.second-long-pattern", 320, 240}};

void StoreOldSettings() {
  test::DeleteSettingsKey();
  test::WriteDword("width", 800);
  test::WriteDword("height", 600);
  test::WriteString("ext", "*.html;*.htm;*.old-long-pattern");
}

DWORD StoredDword(const char* name) {
  DWORD type = 0;
  std::string bytes;
  if (!test::ReadRaw(name, &type, &bytes) || type != REG_DWORD || bytes.size() != 4) return 0;
  DWORD value;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

std::string StoredText(const char* name) {
  DWORD type = 0;
  std::string bytes;
  if (!test::ReadRaw(name, &type, &bytes)) return {};
  return std::string(bytes.c_str());
}

// What one opening of the dialog showed and ended with.
struct Opening {
  int result = -1;
  bool opened = false;
  int okClicks = 0;
  bool forced = false;  // the dialog would not end, and was closed from outside
  std::wstring shownList;  // what the pattern field showed when the dialog opened
  std::vector<std::wstring> messages;
};

// Opens the dialog on this thread; a helper types `values`, clicks OK, answers every message box,
// and clicks OK again (at most twice more) while the dialog stays open after a message.
Opening OpenAndConfirm(test::ConfigurationDlgFn configure, HWND host, const Values& values) {
  Opening run;
  std::atomic<bool> done{false};
  std::thread helper([&] {
    HWND dialog = nullptr;
    DWORD lastClick = 0;
    while (!done) {
      if (test::FindMessageBox()) {
        run.messages.push_back(test::DismissMessageBox());
        lastClick = GetTickCount();
        continue;
      }
      // By class alone: a failure may have left the caption out.
      const HWND found = FindWindowW(test::kDialogClass, nullptr);
      if (found && IsWindowVisible(found)) {
        if (found != dialog) {
          dialog = found;
          run.opened = true;
          DWORD_PTR ignored = 0;
          SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
          test::DialogControls controls(dialog);
          run.shownList = test::TextOf(controls.extEdit);
          // Each field changes twice, whatever it showed: an edit tells its page only of a change,
          // and the number of those messages must not depend on the previous run.
          const std::wstring list(values.list, values.list + std::strlen(values.list));
          for (HWND edit : {controls.widthEdit, controls.heightEdit, controls.extEdit}) test::Type(edit, L"#");
          test::Type(controls.widthEdit, values.width);
          test::Type(controls.heightEdit, values.height);
          test::Type(controls.extEdit, list);
          test::Click(controls.ok);
          ++run.okClicks;
          lastClick = GetTickCount();
        } else if (run.okClicks < 3 && GetTickCount() - lastClick > 500) {
          test::Click(test::DialogControls(dialog).ok);
          ++run.okClicks;
          lastClick = GetTickCount();
        } else if (GetTickCount() - lastClick > 3000) {
          run.forced = true;
          PostMessageW(dialog, WM_CLOSE, 0, 0);
          lastClick = GetTickCount();
        }
      }
      Sleep(10);
    }
  });
  run.result = configure(host, 1);
  done = true;
  helper.join();
  return run;
}

// Building the form repeats the same calls for each of its forty controls, hundreds of times for
// allocation, and a run costs most of a second under Wine. An import called that often is swept at
// its first calls, every 20th in between, and all of its last 15 (those of OK, the save and the
// close); one called at most 24 times, at every call.
bool Swept(int n, int count) { return count <= 24 || n <= 4 || n > count - 15 || n % 20 == 0; }

class DialogFaultSweep : public testing::Test {
 protected:
  void SetUp() override {
    StoreOldSettings();
    plugin_ = std::make_unique<test::PluginModule>();
    injector_ = std::make_unique<test::FaultInjector>(plugin_->Handle());
    configure_ = plugin_->Get<test::ConfigurationDlgFn>("ConfigurationDlg");
    info_ = plugin_->Get<test::GetPluginInfoFn>("GetPluginInfo");
    // The first error raised on a thread sets up the runtime's per-thread exception state, once.
    StandinSetMode(standin::Mode::CreateFails);
    HLOCAL header = nullptr, bits = nullptr;
    plugin_->Get<test::GetPictureFn>("GetPicture")(kPageFile.Path(), 0, 0, &header, &bits, nullptr, 0);
    StandinSetMode(standin::Mode::Normal);
  }
  void TearDown() override {
    injector_.reset();
    plugin_.reset();
    test::DeleteSettingsKey();
  }

  std::string RecordList() {
    char buffer[128] = {};
    info_(2, buffer, sizeof buffer);
    return buffer;
  }

  // The settings record keeps a list stored by OK: its text and its compiled form are the record's
  // blocks, not a leak. What they are for each list is learnt from a run in which nothing failed.
  void LearnRecordBlocks() {
    for (const Values& values : kValues) {
      StoreOldSettings();
      injector_->Arm();
      OpenAndConfirm(configure_, host_.Get(), values);
      injector_->Disarm();
      recordBlocks_[values.list] = injector_->Held().heapBytes;
    }
  }
  test::Holdings WithoutRecordText(test::Holdings held) {
    const auto known = recordBlocks_.find(RecordList());
    if (known == recordBlocks_.end()) return held;
    for (size_t bytes : known->second) {
      for (size_t k = 0; k < held.heapBlocks.size(); ++k) {
        if (held.heapBytes[k] != bytes) continue;
        held.heapBlocks.erase(held.heapBlocks.begin() + k);
        held.heapBytes.erase(held.heapBytes.begin() + k);
        break;
      }
    }
    return held;
  }
  std::map<std::string, std::vector<size_t>> recordBlocks_;

  bool Saved(const Values& values) {
    return StoredDword("width") == values.widthValue && StoredDword("height") == values.heightValue &&
           StoredText("ext") == values.list;
  }

  std::unique_ptr<test::PluginModule> plugin_;
  std::unique_ptr<test::FaultInjector> injector_;
  test::ConfigurationDlgFn configure_ = nullptr;
  test::GetPluginInfoFn info_ = nullptr;
  test::HostWindow host_;
};

TEST_F(DialogFaultSweep, OpeningAndConfirmingNewValues) {
  LearnRecordBlocks();
  // Counted run: nothing fails, the dialog opens, saves and closes without a message.
  injector_->Arm();
  const Opening normal = OpenAndConfirm(configure_, host_.Get(), kValues[0]);
  injector_->Disarm();
  ASSERT_EQ(normal.result, 0);
  ASSERT_TRUE(normal.opened);
  ASSERT_TRUE(normal.messages.empty());
  ASSERT_EQ(normal.okClicks, 1);
  ASSERT_TRUE(Saved(kValues[0]));
  EXPECT_TRUE(WithoutRecordText(injector_->Held()).Empty()) << injector_->Held().Describe();
  int counts[test::kImportCount];
  for (int i = 0; i < test::kImportCount; ++i) counts[i] = injector_->Calls(Import(i));

  int points = 0;
  std::map<std::string, std::map<std::string, int>> table;
  for (int i = 0; i < test::kImportCount; ++i) {
    for (int n = 1; n <= counts[i]; ++n) {
      if (!Swept(n, counts[i])) continue;
      const Values& values = kValues[points % 2 ? 0 : 1];
      ++points;
      SCOPED_TRACE(testing::Message() << "call " << n << " of " << test::ImportName(Import(i)));
      StoreOldSettings();
      const std::string recordList = RecordList();
      injector_->Arm(Import(i), n);
      const Opening run = OpenAndConfirm(configure_, host_.Get(), values);
      injector_->Disarm();

      const bool saved = Saved(values);
      std::string outcome = run.opened ? (saved ? "saved" : "not saved") : "not opened";
      if (!run.messages.empty()) outcome += ", " + std::to_string(run.messages.size()) + " message(s)";
      if (!injector_->Injected()) {
        // A page passes on its controls' focus notifications, and whether the last edit still has
        // the focus when the form closes is up to timing: such a late call may not come at all.
        EXPECT_LT(injector_->Calls(Import(i)), n) << "the call came but did not fail";
        EXPECT_EQ(Import(i), Import::SendMessageW) << "only forwarded notifications vary";
        outcome = "not reached";
        --points;
      }
      ++table[test::ImportName(Import(i))][outcome];

      EXPECT_FALSE(run.forced) << "OK no longer ended the dialog";
      for (const std::wstring& message : run.messages) EXPECT_FALSE(message.empty()) << "a message box without text";
      // The registry's two failures have their own words: the key refused, or a value not written.
      if (Import(i) == Import::RegCreateKeyExA) {
        EXPECT_EQ(run.messages, std::vector<std::wstring>{L"レジストリエラー!\n設定を保存できませんでした。"});
      }
      if (Import(i) == Import::RegSetValueExA) {
        const char* names[] = {"width", "height", "flag1", "flag2", "ext"};
        const std::string name = names[n - 1];
        ASSERT_EQ(run.messages.size(), 1u);
        EXPECT_EQ(run.messages[0], L"'" + std::wstring(name.begin(), name.end()) + L"' の設定に失敗しました");
        EXPECT_EQ(run.okClicks, 2) << "the dialog stays open after a failed write, and the next OK saves";
      }
      if (!run.opened) {
        // It could not be built: the host hears 8, and a message said why (unless showing it failed).
        EXPECT_EQ(run.result, 8);
        if (Import(i) != Import::MessageBoxW) {
          EXPECT_FALSE(run.messages.empty());
        }
      } else {
        EXPECT_EQ(run.result, 0);
        // A dialog that opens shows the record, never its design text: OK would save what it shows.
        EXPECT_EQ(run.shownList, std::wstring(recordList.begin(), recordList.end()));
      }
      // Saved values reached the record too; values not saved were refused with a message, or the
      // message itself could not be shown.
      if (saved) {
        EXPECT_EQ(RecordList(), values.list);
      }
      if (run.opened && !saved && Import(i) != Import::MessageBoxW) {
        EXPECT_FALSE(run.messages.empty()) << "the values were not saved, silently";
      }

      test::Holdings held = WithoutRecordText(injector_->Held());
      injector_->CleanUpAfterFailedReleases();
      EXPECT_TRUE(held.Empty()) << held.Describe();
      WNDCLASSEXW windowClass{};
      windowClass.cbSize = sizeof windowClass;
      EXPECT_FALSE(GetClassInfoExW(plugin_->Handle(), L"TDialogForm", &windowClass)) << "the class stayed";
      EXPECT_TRUE(IsWindowEnabled(host_.Get()));
      EXPECT_FALSE(FindWindowW(test::kDialogClass, nullptr));
    }
    if (counts[i] > 0) {
      std::printf("[sweep] %s: %d calls\n", test::ImportName(Import(i)), counts[i]);
      std::fflush(stdout);
      // The next opening without a failure saves as normal.
      StoreOldSettings();
      const Opening next = OpenAndConfirm(configure_, host_.Get(), kValues[0]);
      EXPECT_EQ(next.result, 0) << "after " << test::ImportName(Import(i));
      EXPECT_TRUE(next.messages.empty()) << "after " << test::ImportName(Import(i));
      EXPECT_TRUE(Saved(kValues[0])) << "after " << test::ImportName(Import(i));
    }
  }

  std::printf("[sweep] ConfigurationDlg, open and OK with new values: %d failure points\n", points);
  for (const auto& [name, outcomes] : table) {
    std::printf("[sweep]   %-22s", name.c_str());
    for (const auto& [outcome, count] : outcomes) std::printf(" %s x%d;", outcome.c_str(), count);
    std::printf("\n");
  }
  EXPECT_GT(points, 50);
}

}  // namespace
