// Loading the settings record from HKCU and saving new values there.
#pragma once

#include <cstdint>
#include <string>

namespace zelnar {

inline constexpr const char kSettingsKeyPath[] = "\\Software\\tamberlo\\zelnar";

// Overlays the record with what the key holds: every value or, when any read fails, none. Never raises.
void LoadSettings() noexcept;

// True when all five values were written; false when the key cannot be opened or created (nothing
// written). A failed write raises zelnar::Error after the key has been closed.
bool SaveSettings(int32_t width, int32_t height, uint32_t flag1, uint32_t flag2, const std::string& ext);

}  // namespace zelnar
