#include "win/character_narrowing.h"

namespace zelnar {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

size_t CharacterUnits(std::u16string_view text, size_t position) noexcept {
  if (position + 1 < text.size() && IsHighSurrogate(text[position]) && IsLowSurrogate(text[position + 1])) return 2;
  return 1;
}

std::string NarrowEachCharacter(std::u16string_view text, CharacterEncoder encode, void* context) {
  std::string narrow;
  narrow.reserve(text.size());
  for (size_t position = 0; position < text.size();) {
    const size_t units = CharacterUnits(text, position);
    // The encoder appends nothing when it fails, so the '?' stands alone for the whole character.
    if (!encode(text.data() + position, units, &narrow, context)) narrow += kUnmappedCharacter;
    position += units;
  }
  return narrow;
}

}  // namespace zelnar
