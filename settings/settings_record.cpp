// Storage of the settings record. The lock is defined before the record in this one translation
// unit, so it is initialised before the defaults are set and destroyed after the text is released.
#include "settings/settings_record.h"

#include <windows.h>

#include <utility>

#include "filter/compiled_pattern_list.h"
#include "filter/process_lead_bytes.h"

namespace zelnar {
namespace {

struct zelnarVar {
  int32_t width;
  int32_t height;
  uint32_t flag1;
  uint32_t flag2;
  std::string ext;  // ';'-separated file patterns, ANSI code page
  // Derived from ext alone and replaced together with it, so that IsSupported need not compile the list
  // on every call. Empty only until the first store or the first reader, which compiles ext.
  std::shared_ptr<const CompiledPatternList> compiledExt;
};

// A process-wide critical section; not copyable, lives as long as the module.
class LockObject {
 public:
  LockObject() noexcept { InitializeCriticalSection(&section_); }
  ~LockObject() { DeleteCriticalSection(&section_); }
  LockObject(const LockObject&) = delete;
  LockObject& operator=(const LockObject&) = delete;
  void Enter() noexcept { EnterCriticalSection(&section_); }
  void Leave() noexcept { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

LockObject settingsLock;
LockObject& SettingsLock() { return settingsLock; }

// Scoped hold of SettingsLock; its scope must cover exactly one copy.
class CriticalSection {
 public:
  CriticalSection() noexcept { SettingsLock().Enter(); }
  ~CriticalSection() { SettingsLock().Leave(); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
};

// The default list is not compiled here: the lead-byte set lives in another translation unit, whose
// initialisation may come after this one. The first store or reader compiles it.
zelnarVar settings{kDefaultIntegers.width, kDefaultIntegers.height, kDefaultIntegers.flag1,
                   kDefaultIntegers.flag2, kDefaultPatternList, nullptr};

std::shared_ptr<const CompiledPatternList> Compile(const std::string& list) {
  return std::make_shared<const CompiledPatternList>(list.c_str(), ProcessLeadBytes());
}

}  // namespace

SettingsIntegers ReadSettingsIntegers() {
  CriticalSection lock;
  return {settings.width, settings.height, settings.flag1, settings.flag2};
}

std::string ReadPatternList() {
  std::string copy;
  CriticalSection lock;
  copy = settings.ext;
  return copy;
}

void StoreSettingsIntegers(const SettingsIntegers& values) {
  CriticalSection lock;
  settings.width = values.width;
  settings.height = values.height;
  settings.flag1 = values.flag1;
  settings.flag2 = values.flag2;
}

std::shared_ptr<const CompiledPatternList> ReadCompiledPatternList() {
  std::string text;
  {
    CriticalSection lock;
    if (settings.compiledExt) return settings.compiledExt;
    text = settings.ext;
  }
  std::shared_ptr<const CompiledPatternList> compiled = Compile(text);
  CriticalSection lock;
  // Only a store replaces the text, and a store brings its own compiled form: if one came in between,
  // its list is the newer one, and this compilation is dropped after unlocking.
  if (!settings.compiledExt) settings.compiledExt = compiled;
  return settings.compiledExt;
}

PreparedPatternList PreparePatternList(std::string list) {
  PreparedPatternList prepared{std::move(list), nullptr};
  prepared.compiled = Compile(prepared.text);
  return prepared;
}

void StorePatternList(PreparedPatternList&& prepared) noexcept {
  // The hold covers two swaps; the old text and compiled form leave with `prepared`, after unlocking.
  CriticalSection lock;
  settings.ext.swap(prepared.text);
  settings.compiledExt.swap(prepared.compiled);
}

}  // namespace zelnar
