// Control of the stand-in extractor for tests and benchmarks: choose how it behaves, read back what it
// was asked. The test links zelnar_standin.dll, so it shares the module instance that COM loads.
#pragma once

#include <windows.h>

#include <cstdint>

namespace standin {

enum class Mode : int {
  Normal,                // draws the page with PaintPage on a 24-bit bitmap of the requested size
  Pattern,               // the known pixel pattern, bottom-up 24-bit
  PatternTopDown,        // the same pattern in a top-down 24-bit bitmap
  Ready,                 // a 24-bit bitmap of the requested size, not drawn at all
  ExtractFails,          // Extract returns E_FAIL
  ExtractSFalse,         // Extract returns S_FALSE with the pattern bitmap
  NullBitmap,            // Extract returns S_OK without a bitmap
  Larger,                // the pattern at kLargerBy more pixels each way
  Smaller,               // the pattern at half the requested size (at least 1 by 1)
  Bits32,                // the pattern in a 32-bit bitmap (fourth byte kBits32Filler)
  DeviceDependent,       // the pattern in a bitmap compatible with the screen
  NoExtractImage,        // QueryInterface for IExtractImage answers E_NOINTERFACE
  ExtractImageSFalse,    // QueryInterface for IExtractImage answers S_FALSE, with a reference
  NoPersistFile,         // QueryInterface for IPersistFile answers E_NOINTERFACE
  LoadFails,             // Load returns E_FAIL; Extract then gives the pattern
  CreateFails,           // the class factory refuses with E_OUTOFMEMORY
};

inline constexpr int kLargerBy = 5;
inline constexpr uint8_t kBits32Filler = 0xA5;

enum class Event : int {
  QueryPersistFile,
  QueryExtractImage,
  QueryOther,
  Load,
  GetLocation,
  Extract,
  ReleaseExtractImage,
  ReleasePersistFile,
  ReleaseUnknown,
  Destroyed,
};

inline constexpr int kMaxEvents = 64;
inline constexpr int kMaxPath = 1024;

struct Record {
  wchar_t path[kMaxPath];   // what Load was given (cut to fit)
  DWORD loadMode;
  DWORD capacity;           // GetLocation's buffer capacity in wide characters
  bool locationZeroed;      // the buffer held only zeros up to that capacity
  DWORD priority;           // the priority's value on entry
  SIZE size;
  DWORD depth;
  DWORD flags;
  HBITMAP lastBitmap;       // the last bitmap Extract handed out
  int objectsCreated;
  LONG liveObjects;
  int releasesOutsideApartment;  // Release calls made on a thread without COM
  int eventCount;                // may exceed kMaxEvents; only the first kMaxEvents are kept
  Event events[kMaxEvents];
};

// The pattern byte at `offset` of row `row` (0 = top), trailing row bytes included: rows differ from
// each other, and so do neighbouring bytes.
inline uint8_t PatternByte(int row, int offset) {
  return static_cast<uint8_t>(row * 37 + offset * 11 + (row >> 8) * 101 + 1);
}

}  // namespace standin

extern "C" {
// Plain C calls, so that the import library links them by name.
// Sets the mode and clears the record (the live-object count stays).
void __cdecl StandinSetMode(standin::Mode mode);
void __cdecl StandinGetRecord(standin::Record* record);
}
