// The strict text-to-integer conversion of the dialog's width and height fields: optional leading
// spaces, one sign, then decimal digits or a '$', 'x' or '0x' hexadecimal number, and nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zelnar {

// Empty when the text is not an integer of that form or does not fit 32 bits. Hexadecimal gives the
// 32-bit pattern taken as signed ('$FFFFFFFF' is -1) and ignores a sign in front of it.
std::optional<int32_t> ParseIntegerText(std::u16string_view text) noexcept;

}  // namespace zelnar
