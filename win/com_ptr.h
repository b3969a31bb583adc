// Ownership of one COM interface reference, and of the calling thread's membership in an apartment.
#pragma once

#include <objbase.h>

namespace zelnar {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* Get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  // For out-parameters such as QueryInterface's: drops what is held, then hands out the slot.
  void** ReceiveVoid() noexcept {
    Reset();
    return reinterpret_cast<void**>(&pointer_);
  }

  void Reset() noexcept {
    if (Interface* held = pointer_) {
      pointer_ = nullptr;
      held->Release();
    }
  }

 private:
  Interface* pointer_ = nullptr;
};

// Joins the calling thread to an apartment; leaves it only when joining succeeded (S_OK or S_FALSE).
// Declare it before every interface reference of the same scope so that it is destroyed last.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) noexcept : result_(CoInitializeEx(nullptr, model)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HRESULT Result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

}  // namespace zelnar
