// Page capture: has the shell's HTML thumbnail extractor render one file into a bitmap object.
#pragma once

#include <objbase.h>
#include <objidl.h>

#include <cstdint>

#include "render/bitmap_object.h"

namespace zelnar {

inline constexpr wchar_t kExtractorProgId[] = L"Shell.ThumbnailExtract.HTML.1";

// The shell's extractor interface, declared here, with page capture, on purpose: its one user is
// here, and nothing else of the shell's headers is then needed.
inline constexpr IID kIID_IExtractImage = {0xBB2E617C, 0x0920, 0x11D1, {0x9A, 0x0B, 0x00, 0xC0, 0x4F, 0xC2, 0xD6, 0xC1}};

struct IExtractImage : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLocation(LPWSTR location, DWORD capacity, DWORD* priority, const SIZE* size,
                                                DWORD colourDepth, DWORD* flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Extract(HBITMAP* bitmap) = 0;
};

// The colour depth asked of the extractor for a bitmap object of this layout.
DWORD RequestedColourDepth(PixelFormat format) noexcept;

// Renders the file at `path` at the bitmap object's size and depth, with `flags`
// handed to the extractor unchanged. True: the bitmap object now owns the extractor's bitmap. False:
// the extractor reported failure (or gave no bitmap); the bitmap object is unchanged. Raises ComError
// or zelnar::Error when the extractor cannot be found, created or asked, or memory runs out. Every
// interface is released, and COM left as found, before it returns or raises.
// An answer and errors side by side on purpose: the extractor refusing a page is an ordinary outcome of
// rendering, the rest are failures of the machinery around it; callers may treat them alike.
bool ExtractImage(const wchar_t* path, BitmapObject& bitmap, uint32_t flags);

}  // namespace zelnar
