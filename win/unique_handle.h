// The one owner of a handle that a single call closes: each kind's traits say what "none" is and
// how it is closed. Non-copyable, movable, and one vocabulary for every kind: Get, Release (gives
// up ownership), Reset, explicit bool.
#pragma once

namespace zelnar {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle Get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::None(); }
  Handle Release() noexcept {
    const Handle handle = handle_;
    handle_ = Traits::None();
    return handle;
  }
  // Closes what it holds, then holds `handle`; whether the close succeeded (a file's last write can
  // still fail there).
  bool Reset(Handle handle = Traits::None()) noexcept {
    const bool closed = handle_ == Traits::None() || Traits::Close(handle_);
    handle_ = handle;
    return closed;
  }

 private:
  Handle handle_ = Traits::None();
};

}  // namespace zelnar
