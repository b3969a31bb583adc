// Code page 932's lead bytes, as the plug-in computes them for a Japanese locale.
#pragma once

#include "filter/lead_byte_set.h"

namespace test {

inline zelnar::LeadByteSet LeadBytes932() {
  zelnar::LeadByteSet set{};
  set.AddRange(0x81, 0x9F);
  set.AddRange(0xE0, 0xFC);
  return set;
}

}  // namespace test
