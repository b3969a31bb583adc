// Base64 as the engine's DevTools messages carry pictures and files. Portable.
#pragma once

#include <string>

namespace wine_extractor {

// The bytes of standard base64 text (padding optional); false for any other character.
bool Base64Decode(const std::string& text, std::string& bytes);
// Standard base64 text of `bytes`, padded.
std::string Base64Encode(const std::string& bytes);

}  // namespace wine_extractor
