// The bytes that begin a double-byte character in the process's ANSI code page, and the rule that tells
// the second byte of such a character when a string is read from a given start.
#pragma once

#include "filter/byte_value_set.h"

namespace zelnar {

// Empty for single-byte code pages; for code page 932 it holds 0x81-0x9F and 0xE0-0xFC.
struct LeadByteSet : ByteValueSet {};

// Feed the bytes of a string in order, from the start the rule is reckoned from. A byte is a second byte
// when the unbroken run of lead bytes directly before it has odd length; the first byte never is.
class SecondByteRule {
 public:
  explicit SecondByteRule(const LeadByteSet& leadBytes) noexcept : leadBytes_(leadBytes) {}
  // Whether the byte about to be passed is a second byte.
  bool AtSecondByte() const noexcept { return oddRun_; }
  void Pass(unsigned char value) noexcept { oddRun_ = !oddRun_ && leadBytes_.Contains(value); }

 private:
  const LeadByteSet& leadBytes_;
  bool oddRun_ = false;
};

}  // namespace zelnar
