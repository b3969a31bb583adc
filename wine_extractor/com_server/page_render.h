// One render of a page by the browser engine, from the page's Windows path to a bitmap.
#pragma once

#include <windows.h>

#include <string>

#include "wine_extractor/protocol/engine_settings.h"
#include "wine_extractor/protocol/page_status.h"

namespace wine_extractor {

// The largest side the engine is asked for; beyond it a render takes memory for nothing.
inline constexpr int kMaxSide = 16384;

// A 24-bit bottom-up DIB section of exactly width x height showing the page as the engine lays it
// out in a viewport of that size. Raises Failure when the size is out of range, the page cannot be
// read, the engine is missing, fails or runs out of time, or its picture is absent or broken. The
// page service draws it; the page's files in its spool are gone by then. `refused` gets the page's
// requests that the request rules refused, before any Failure is raised.
HBITMAP RenderPage(const std::wstring& page, int width, int height, const EngineSettings& settings,
                   RefusedRequests& refused);

}  // namespace wine_extractor
