// Ownership of a local-memory block and of one lock on it.
#pragma once

#include <windows.h>

namespace zelnar {

// Frees the block it holds; LocalFree frees a locked block as well.
class UniqueLocal {
 public:
  UniqueLocal() noexcept = default;
  explicit UniqueLocal(HLOCAL block) noexcept : block_(block) {}
  ~UniqueLocal() { Reset(); }
  UniqueLocal(const UniqueLocal&) = delete;
  UniqueLocal& operator=(const UniqueLocal&) = delete;

  HLOCAL Get() const noexcept { return block_; }
  explicit operator bool() const noexcept { return block_ != nullptr; }
  // Gives the block away: the caller owns it from now on.
  HLOCAL Release() noexcept {
    HLOCAL block = block_;
    block_ = nullptr;
    return block;
  }
  void Reset() noexcept {
    if (block_) LocalFree(block_);
    block_ = nullptr;
  }

 private:
  HLOCAL block_ = nullptr;
};

}  // namespace zelnar
