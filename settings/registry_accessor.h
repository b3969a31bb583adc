// A short-lived accessor of one registry key under HKEY_CURRENT_USER. It owns the key it has open
// and closes it when destroyed, whatever path leaves its user.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zelnar {

class RegistryAccessor {
 public:
  explicit RegistryAccessor(REGSAM access = KEY_ALL_ACCESS) noexcept : access_(access) {}
  ~RegistryAccessor() { CloseKey(); }
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  // A leading '\' starts from the root; otherwise the path is relative to the open key. It answers
  // true or false and never raises, unlike the reads and writes: a key that cannot be opened is an
  // expected state (no settings stored yet, no rights), which its callers test, not a failure.
  bool OpenKey(const std::string& path, bool canCreate) noexcept;
  void CloseKey() noexcept;
  // False only for a missing value; raises RegistryError when the query fails otherwise.
  bool ValueExists(const std::string& name) const;

  // These raise RegistryError (value name, operation, code).
  int32_t ReadInteger(const std::string& name) const;
  std::string ReadString(const std::string& name) const;
  void WriteInteger(const std::string& name, int32_t value) const;
  void WriteString(const std::string& name, const std::string& text) const;

  // The path of the open key. A seam for tests: the plug-in itself never asks.
  const std::string& CurrentPath() const noexcept { return path_; }

 private:
  HKEY root_ = HKEY_CURRENT_USER;
  REGSAM access_;
  HKEY key_ = nullptr;
  std::string path_;
};

}  // namespace zelnar
