// The one body behind GetPicture, GetPreview and their wide forms.
#pragma once

#include <windows.h>

#include "plugin/exports.h"
#include "settings/settings_record.h"

namespace zelnar {

// Only bits 0 to 2 of the input kind are examined; all three clear means a file path. Anything else
// (an image in memory) is refused, and traced, before the input is looked at, so it is never read as
// a string.
bool IsFileInput(unsigned int kind) noexcept;

// The picture of the file at `path` (UTF-16, possibly null), with the callback asked before and after.
// The caller has checked the input kind.
int RequestPicture(FlagWord which, const wchar_t* path, HLOCAL* headerOut, HLOCAL* bitsOut,
                   ProgressCallback callback, LONG_PTR data) noexcept;

}  // namespace zelnar
