// What the rest of the plug-in reads of the settings: one copy out of the record per call, each under
// the record's lock, which stays inside the settings.
#pragma once

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

inline constexpr SettingsIntegers kDefaultIntegers{800, 600, 524, 8};
inline constexpr const char kDefaultPatternList[] = "*.html;*.htm";

SettingsIntegers ReadSettingsIntegers();
std::string ReadPatternList();
// The stored list compiled with the process's lead bytes. The snapshot stays valid and unchanged for as
// long as the caller holds it, also when a new list is stored meanwhile. Throws only std::bad_alloc.
std::shared_ptr<const CompiledPatternList> ReadCompiledPatternList();

}  // namespace zelnar
