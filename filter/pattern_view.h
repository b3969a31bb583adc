// The elements of one compiled pattern where someone else keeps them: a compiled list stores the
// elements of all its entries in one array, so each entry is matched through a view into it.
#pragma once

#include <cstddef>

#include "filter/byte_value_set.h"
#include "filter/pattern_compiler.h"

namespace zelnar {

// Reads like a CompiledPattern, without owning anything. `sets` is indexed by PatternElement::set.
struct PatternView {
  const PatternElement* elements;
  std::size_t size;
  const ByteValueSet* sets;
  bool starredDoubleByte;

  const PatternElement* Elements() const noexcept { return elements; }
  std::size_t Size() const noexcept { return size; }
  const PatternElement& operator[](std::size_t i) const noexcept { return elements[i]; }
  const ByteValueSet& Members(const PatternElement& element) const noexcept { return sets[element.set]; }
  bool HasStarredDoubleByte() const noexcept { return starredDoubleByte; }
};

}  // namespace zelnar
