// Gives back what the module's C++ runtime takes at load and would keep after an unload: a host may
// load and free the plug-in for every picture.
#pragma once

namespace zelnar {

// At DLL_PROCESS_ATTACH, before any export can run: has the runtime make now, on the loader's
// thread, the locks it never destroys, so that they are known.
void PrepareRuntime() noexcept;

// At the DLL_PROCESS_DETACH of a FreeLibrary: closes those locks and frees the runtime's emergency
// exception pool (16 KiB in the 32-bit module, 72 KiB in the 64-bit one).
void ReleaseRuntime() noexcept;

}  // namespace zelnar
