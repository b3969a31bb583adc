// Registry access by the ANSI calls. Failures are raised as RegistryError: value, operation, code.
#include "settings/registry_accessor.h"

#include <vector>

#include "settings/registry_error.h"

namespace zelnar {
namespace {

RegistryError ReadFailed(const std::string& name, LONG status) {
  return RegistryError(name, RegistryError::Operation::Query, status);
}
RegistryError BadType(const std::string& name, DWORD type) {
  return RegistryError(name, RegistryError::Operation::WrongType, static_cast<long>(type));
}
RegistryError WriteFailed(const std::string& name, LONG status) {
  return RegistryError(name, RegistryError::Operation::Set, status);
}

}  // namespace

bool RegistryAccessor::OpenKey(const std::string& path, bool canCreate) noexcept {
  // The path is read in place: a copy could run out of memory, and nothing may leave this function.
  const bool fromRoot = !path.empty() && path[0] == '\\';
  const char* relative = path.c_str() + (fromRoot ? 1 : 0);
  const HKEY base = fromRoot || !key_ ? root_ : key_;

  HKEY opened = nullptr;
  LONG status;
  if (canCreate && *relative != '\0') {
    status = RegCreateKeyExA(base, relative, 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr, &opened, nullptr);
  } else {
    status = RegOpenKeyExA(base, relative, 0, access_, &opened);
  }
  if (status != ERROR_SUCCESS) return false;

  std::string newPath;
  try {
    newPath = (fromRoot || !key_) ? path : path_ + "\\" + path;
  } catch (...) {
    RegCloseKey(opened);
    return false;
  }
  CloseKey();
  key_ = opened;
  path_.swap(newPath);
  return true;
}

void RegistryAccessor::CloseKey() noexcept {
  if (!key_) return;
  RegCloseKey(key_);
  key_ = nullptr;
  path_.clear();
}

bool RegistryAccessor::ValueExists(const std::string& name) const {
  DWORD type = 0;
  DWORD size = 0;
  const LONG status = RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) return true;
  // Only a missing value is absent; any other failure leaves open whether it exists, and taking it
  // for absent would mix a default into the values that were read.
  if (status == ERROR_FILE_NOT_FOUND) return false;
  throw ReadFailed(name, status);
}

int32_t RegistryAccessor::ReadInteger(const std::string& name) const {
  // A REG_DWORD shorter than four bytes reads as its bytes, zero-extended.
  BYTE data[4] = {0, 0, 0, 0};
  DWORD size = sizeof data;
  DWORD type = 0;
  if (const LONG status = RegQueryValueExA(key_, name.c_str(), nullptr, &type, data, &size); status != ERROR_SUCCESS)
    throw ReadFailed(name, status);
  if (type != REG_DWORD) throw BadType(name, type);
  const uint32_t bits = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
  return static_cast<int32_t>(bits);
}

std::string RegistryAccessor::ReadString(const std::string& name) const {
  DWORD type = 0;
  DWORD size = 0;
  long long reported = -1;
  const LONG status = RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) reported = size;
  // A value that vanished reads as empty; a query that failed otherwise must not empty the list.
  else if (status != ERROR_FILE_NOT_FOUND) throw ReadFailed(name, status);
  if (reported <= 0) return std::string();

  std::vector<BYTE> data(static_cast<size_t>(reported));
  size = static_cast<DWORD>(data.size());
  if (const LONG read = RegQueryValueExA(key_, name.c_str(), nullptr, &type, data.data(), &size); read != ERROR_SUCCESS)
    throw ReadFailed(name, read);
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw BadType(name, type);

  size_t length = 0;
  const size_t filled = size < data.size() ? size : data.size();
  while (length < filled && data[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(data.data()), length);
}

void RegistryAccessor::WriteInteger(const std::string& name, int32_t value) const {
  const uint32_t bits = static_cast<uint32_t>(value);
  const BYTE data[4] = {BYTE(bits), BYTE(bits >> 8), BYTE(bits >> 16), BYTE(bits >> 24)};
  if (const LONG status = RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, data, sizeof data); status != ERROR_SUCCESS)
    throw WriteFailed(name, status);
}

void RegistryAccessor::WriteString(const std::string& name, const std::string& text) const {
  // Written up to the first zero byte, with exactly one terminator.
  const std::string::size_type length = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
  if (const LONG status = RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                         static_cast<DWORD>(length + 1));
      status != ERROR_SUCCESS)
    throw WriteFailed(name, status);
}

}  // namespace zelnar
