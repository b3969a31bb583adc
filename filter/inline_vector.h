// A growable array of trivially copyable values that keeps its first N in place and moves to the heap
// only beyond them: a typical file pattern then compiles without allocating.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

namespace zelnar {

template <typename T, std::size_t N>
class InlineVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  InlineVector() = default;
  InlineVector(const InlineVector&) = delete;
  InlineVector& operator=(const InlineVector&) = delete;

  // A new value-initialised (zeroed) element, built in place.
  __attribute__((always_inline)) T& Add() {
    if (size_ < N) {
      T* slot = new (&storage_[size_ * sizeof(T)]) T{};
      ++size_;
      return *slot;
    }
    return AddOnHeap();
  }
  const T* Data() const noexcept { return size_ <= N ? Inline() : data_; }
  std::size_t Size() const noexcept { return size_; }
  const T& operator[](std::size_t i) const noexcept { return Data()[i]; }

 private:
  T& AddOnHeap() {
    if (size_ == N) heap_.assign(Inline(), Inline() + N);
    ++size_;
    T& slot = heap_.emplace_back();
    data_ = heap_.data();
    return slot;
  }

  const T* Inline() const noexcept { return std::launder(reinterpret_cast<const T*>(storage_)); }

  // Raw storage: constructing unused elements would cost more than compiling a typical pattern.
  alignas(T) unsigned char storage_[N * sizeof(T)];
  std::size_t size_ = 0;
  const T* data_ = nullptr;
  std::vector<T> heap_;
};

}  // namespace zelnar
