#include "win/ansi_name.h"

#include <windows.h>

#include <climits>

#include "win/character_narrowing.h"

namespace zelnar {
namespace {

// Longer than any character of any code page (UTF-8 needs 4 bytes, DBCS 2).
constexpr int kCharacterBytes = 8;

// The system's default conversion maps look-alikes ("best fit"); WC_NO_BEST_FIT_CHARS turns them into
// the default character instead, which usedDefault reports. UTF-8 as the ANSI code page refuses both
// that flag and usedDefault: there only a lone surrogate lacks a form, and WC_ERR_INVALID_CHARS finds it.
int Convert(UINT codePage, const wchar_t* units, int count, char* bytes, int capacity, bool* exact) {
  BOOL usedDefault = FALSE;
  const int written = codePage == CP_UTF8
                          ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, count, bytes, capacity,
                                                nullptr, nullptr)
                          : WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, count, bytes, capacity,
                                                nullptr, &usedDefault);
  *exact = written > 0 && !usedDefault;
  return written;
}

bool EncodeCharacter(const char16_t* units, size_t count, std::string* out, void* context) {
  const UINT codePage = *static_cast<const UINT*>(context);
  char bytes[kCharacterBytes];
  bool exact = false;
  const int written =
      Convert(codePage, reinterpret_cast<const wchar_t*>(units), int(count), bytes, kCharacterBytes, &exact);
  if (!exact) return false;
  out->append(bytes, size_t(written));
  return true;
}

}  // namespace

int NarrowNameExactly(std::wstring_view name, char* bytes, int capacity) noexcept {
  if (name.size() > size_t(capacity)) return -1;  // no character takes less than one byte
  // Every ANSI code page keeps ASCII as it is, so most names need no call of the system at all.
  size_t ascii = 0;
  for (; ascii < name.size() && name[ascii] < 0x80; ++ascii) bytes[ascii] = char(name[ascii]);
  if (ascii == name.size()) return int(ascii);
  bool exact = false;
  const int written = Convert(GetACP(), name.data(), int(name.size()), bytes, capacity, &exact);
  return exact ? written : -1;
}

std::string NarrowNameToAnsi(std::wstring_view name) {
  if (name.empty()) return {};
  UINT codePage = GetACP();
  // Most names convert exactly as a whole: one call. Only a name with a character outside the code
  // page goes through character by character, so that each such character leaves exactly one '?'.
  if (name.size() <= size_t(INT_MAX) / kCharacterBytes) {
    std::string whole(name.size() * kCharacterBytes, '\0');
    bool exact = false;
    const int written = Convert(codePage, name.data(), int(name.size()), &whole[0], int(whole.size()), &exact);
    if (exact) {
      whole.resize(size_t(written));
      return whole;
    }
  }
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units on Windows");
  const std::u16string_view units(reinterpret_cast<const char16_t*>(name.data()), name.size());
  return NarrowEachCharacter(units, EncodeCharacter, &codePage);
}

}  // namespace zelnar
