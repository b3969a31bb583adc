#include "win/module_instance.h"

namespace zelnar {
namespace {
HINSTANCE moduleInstance = nullptr;
}

HINSTANCE ModuleInstance() noexcept { return moduleInstance ? moduleInstance : GetModuleHandleA(nullptr); }
void SetModuleInstance(HINSTANCE instance) noexcept { moduleInstance = instance; }

}  // namespace zelnar
