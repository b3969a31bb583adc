// Module entry: loads the settings on process attach and gives back what the runtime holds on
// detach. Static initialisation (the lock, the record's defaults, the lead-byte set) has already run
// by then.
#include <windows.h>

#include "plugin/module_runtime.h"
#include "win/module_instance.h"
#include "settings/settings_store.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    zelnar::SetModuleInstance(instance);
    zelnar::PrepareRuntime();
    // Read here, once per load, not on first use: the host may call any export from any thread right
    // after loading, and each must see the stored values without a registry access of its own.
    zelnar::LoadSettings();
  }
  // Only at a FreeLibrary: at process exit the system takes everything back.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) zelnar::ReleaseRuntime();
  return TRUE;
}
