// The plug-in's one settings record, its lock, and the only ways to copy into and out of it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace zelnar {

class CompiledPatternList;

// The four integers travel together as one block; the pattern list is copied separately.
struct SettingsIntegers {
  int32_t width;
  int32_t height;
  uint32_t flag1;  // extractor flags for full pictures
  uint32_t flag2;  // extractor flags for previews
};

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

inline constexpr SettingsIntegers kDefaultIntegers{800, 600, 524, 8};
inline constexpr const char kDefaultPatternList[] = "*.html;*.htm";

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

LockObject& SettingsLock();

// Scoped hold of SettingsLock; its scope must cover exactly one copy.
class CriticalSection {
 public:
  CriticalSection() noexcept { SettingsLock().Enter(); }
  ~CriticalSection() { SettingsLock().Leave(); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
};

enum class FlagWord { Picture, Preview };

// Each call is one hold of SettingsLock covering only the copy.
SettingsIntegers ReadSettingsIntegers();
std::string ReadPatternList();
// The stored list compiled with the process's lead bytes. The snapshot stays valid and unchanged for as
// long as the caller holds it, also when a new list is stored meanwhile. Throws only std::bad_alloc.
std::shared_ptr<const CompiledPatternList> ReadCompiledPatternList();
void StoreSettingsIntegers(const SettingsIntegers& values);
// A pattern list ready to be stored: its text and compiled form, made before the lock is taken.
struct PreparedPatternList {
  std::string text;
  std::shared_ptr<const CompiledPatternList> compiled;
};
// Compiles the list; raises when memory runs out. Nothing is stored yet.
PreparedPatternList PreparePatternList(std::string list);
// Replaces the text and its compiled form in one hold. Allocates nothing, so it cannot fail: a caller
// that has stored other values already can always store the list with them.
void StorePatternList(PreparedPatternList&& prepared) noexcept;
// Both steps at once.
void StorePatternList(const std::string& list);

}  // namespace zelnar
