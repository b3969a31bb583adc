// The compiled pattern list kept beside the text in the settings record: replaced by every store and
// by loading, consistent with the text, and a snapshot that a store never changes under its holder.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "filter/compiled_pattern_list.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "tests/support/settings_key.h"

namespace zelnar {
namespace {

class SettingsRecord : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    test::DeleteSettingsKey();
    StoreSettingsIntegers(kDefaultIntegers);
    StorePatternList(PreparePatternList(kDefaultPatternList));
  }
};

bool Claims(const char* name) { return ReadCompiledPatternList()->Claims(name); }

TEST_F(SettingsRecord, EveryStoreReplacesTheCompiledList) {
  struct Case { const char* list; const char* name; bool claimed; };
  const Case cases[] = {
      {"*.eml", "a.EML", true}, {"*.eml", "a.htm", false},
      {"*.htm;[", "a.htm", true}, {"*.htm;[", "a.txt", false},  // a bad entry claims nothing that reaches it
      {"", "", false},          {";", "", true},          {";", "a", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.list << "\" / \"" << c.name << '"');
    StorePatternList(PreparePatternList(c.list));
    EXPECT_EQ(ReadPatternList(), c.list);
    EXPECT_EQ(Claims(c.name), c.claimed);
  }
}

TEST_F(SettingsRecord, LoadingCompilesWhatItStoresAndKeepsTheListOnAFailure) {
  test::WriteString("ext", "*.eml");
  LoadSettings();
  EXPECT_EQ(ReadPatternList(), "*.eml");
  EXPECT_TRUE(Claims("a.eml"));
  EXPECT_FALSE(Claims("a.htm"));

  // A bad value stores nothing of the load: text and compiled list stay as they were.
  test::WriteString("ext", "*.txt");
  const DWORD notADword = 0;
  test::WriteRaw("width", REG_BINARY, &notADword, sizeof notADword);
  LoadSettings();
  EXPECT_EQ(ReadPatternList(), "*.eml");
  EXPECT_TRUE(Claims("a.eml"));
  EXPECT_FALSE(Claims("a.txt"));
}

TEST_F(SettingsRecord, ASnapshotOutlivesTheStoresAfterIt) {
  StorePatternList(PreparePatternList("*.htm"));
  const std::shared_ptr<const CompiledPatternList> before = ReadCompiledPatternList();
  StorePatternList(PreparePatternList("*.txt"));
  StorePatternList(PreparePatternList("*.eml"));
  const std::shared_ptr<const CompiledPatternList> after = ReadCompiledPatternList();
  EXPECT_TRUE(before->Claims("a.htm"));
  EXPECT_FALSE(before->Claims("a.eml"));
  EXPECT_TRUE(after->Claims("a.eml"));
  EXPECT_FALSE(after->Claims("a.htm"));
  EXPECT_EQ(after, ReadCompiledPatternList()) << "readers share one compiled list until the next store";
}

// Readers match while the list is stored over and over: each snapshot is one whole list, so exactly one
// of the two names is claimed, and a list is never released under a reader.
TEST_F(SettingsRecord, StoresDuringMatchingNeverTearAnAnswer) {
  const std::string listA = "*.a;" + std::string(200, 'x') + "*;[a-c]*.q";
  const std::string listB = "*.b;" + std::string(200, 'y') + "*;[d-f]*.q";
  StorePatternList(PreparePatternList(listA));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<long> calls{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        const std::shared_ptr<const CompiledPatternList> list = ReadCompiledPatternList();
        const bool a = list->Claims("n.a") && list->Claims("bx.q");
        const bool b = list->Claims("n.b") && list->Claims("ex.q");
        if (a == b) ++torn;
        ++calls;
      }
    });
  }
  // On a busy machine the readers may start late: the stores begin once both are reading.
  while (calls < 2) std::this_thread::yield();
  const long before = calls;
  for (int i = 0; i < 3000; ++i) StorePatternList(PreparePatternList(i % 2 ? listA : listB));
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(calls, before);
}

}  // namespace
}  // namespace zelnar
