// The plug-in's one settings record: the readers of settings_reader.h, and the stores that the
// settings load and the dialog make. The record itself and its lock live in the .cpp.
#pragma once

#include <memory>
#include <string>

#include "settings/settings_reader.h"

namespace zelnar {

// Each call is one hold of the record's lock covering only the copy.
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

}  // namespace zelnar
