// Loading the settings record from HKCU and saving new values there.
#pragma once

#include <cstdint>
#include <string>

namespace zelnar {

inline constexpr const char kSettingsKeyPath[] = "\\Software\\tamberlo\\zelnar";

// Overlays the record with what the key holds: every value or, when any read fails, none. Never raises.
void LoadSettings() noexcept;

// True when all five values were written; false when the key cannot be opened or created (nothing
// written). A failed write raises RegistryError after the key has been closed. Two channels on
// purpose: the dialog answers the two cases differently (a message and the dialog closes, against the
// value's own message with the dialog left open), and hosts' users know both behaviours.
bool SaveSettings(int32_t width, int32_t height, uint32_t flag1, uint32_t flag2, const std::string& ext);

}  // namespace zelnar
