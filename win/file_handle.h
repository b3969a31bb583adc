// Owns one file handle; closes it once.
#pragma once

#include <windows.h>

namespace zelnar {

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) noexcept : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const noexcept { return h_; }
  bool valid() const noexcept { return h_ != INVALID_HANDLE_VALUE; }
  // Closes now and reports whether the close succeeded (a write can still fail there).
  bool Close() noexcept {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

}  // namespace zelnar
