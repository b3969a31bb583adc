// Storage of the settings record. The lock is defined before the record in this one translation
// unit, so it is initialised before the defaults are set and destroyed after the text is released.
#include "settings/settings_record.h"

#include <utility>

namespace zelnar {
namespace {

LockObject settingsLock;
zelnarVar settings{kDefaultIntegers.width, kDefaultIntegers.height, kDefaultIntegers.flag1,
                   kDefaultIntegers.flag2, kDefaultPatternList};

}  // namespace

LockObject& SettingsLock() { return settingsLock; }

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

void StorePatternList(const std::string& list) {
  // Copy before locking and release the old text after unlocking: no allocation under the lock.
  std::string incoming = list;
  {
    CriticalSection lock;
    settings.ext.swap(incoming);
  }
}

void StorePatternList(std::string&& list) noexcept {
  // The old text leaves with the caller's string, after unlocking.
  CriticalSection lock;
  settings.ext.swap(list);
}

}  // namespace zelnar
