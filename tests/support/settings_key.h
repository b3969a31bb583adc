// Direct access to the plug-in's registry key for tests: wipe it, write raw values of any type.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace test {

inline constexpr const char kKeyPath[] = "Software\\tamberlo\\zelnar";

inline void DeleteSettingsKey() { RegDeleteTreeA(HKEY_CURRENT_USER, kKeyPath); }

inline void WriteRaw(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error("cannot create the settings key");
  const LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) throw std::runtime_error(std::string("cannot write ") + name);
}

inline void WriteDword(const char* name, DWORD value) { WriteRaw(name, REG_DWORD, &value, sizeof value); }
inline void WriteString(const char* name, const std::string& text, DWORD type = REG_SZ) {
  WriteRaw(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// Reads a value back: true when it exists; type and bytes out.
inline bool ReadRaw(const char* name, DWORD* type, std::string* bytes) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    bytes->assign(size, '\0');
    status = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(&(*bytes)[0]), &size);
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace test
