// Base64 as the engine's DevTools messages carry pictures. Portable.
#pragma once

#include <string>

namespace browser {

// The bytes of standard base64 text (padding optional); false for any other character.
bool Base64Decode(const std::string& text, std::string& bytes);

}  // namespace browser
