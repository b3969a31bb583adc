// The plug-in's one settings record, its lock, and the only ways to copy into and out of it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zelnar {

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
void StoreSettingsIntegers(const SettingsIntegers& values);
void StorePatternList(const std::string& list);
// Takes the caller's text over without copying, so it cannot fail once the integers are stored.
void StorePatternList(std::string&& list) noexcept;

}  // namespace zelnar
