// A UTF-16 file name in the bytes of the ANSI code page, for the byte-based pattern scan.
#pragma once

#include <string>
#include <string_view>

namespace zelnar {

// Every character with an exact form in the ANSI code page keeps it; every other one (a surrogate
// pair counts as one) becomes a single '?'. No look-alike mapping: a full-width dot stays a '?', not
// a '.', so a name is never claimed for an extension it does not have. Raises std::bad_alloc only.
std::string NarrowNameToAnsi(std::wstring_view name);

// The same name written into `bytes` (not terminated) when every character has an exact form and the
// bytes fit in `capacity`: their count. Otherwise -1, and the caller takes NarrowNameToAnsi. Allocates
// nothing.
int NarrowNameExactly(std::wstring_view name, char* bytes, int capacity) noexcept;

}  // namespace zelnar
