// The plug-in module's own handle, for its resources. Falls back to the process image when the code
// is linked into a program instead of the plug-in.
#pragma once

#include <windows.h>

namespace zelnar {

HINSTANCE ModuleInstance() noexcept;
void SetModuleInstance(HINSTANCE instance) noexcept;

}  // namespace zelnar
