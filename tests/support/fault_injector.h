// A test-only fault injector: it rewrites the import address table of one loaded module (the plug-in)
// so that its calls to chosen system functions pass through hooks of ours. A hook counts the calls of
// the armed thread, makes the N-th call of one import fail the way that function documents failure
// (its failure result, and SetLastError, errno or an HRESULT with a plausible code), and keeps a
// ledger of what the module acquired and released, so that a test can tell a leak from a release.
// Only the module's own imports are patched; what other system DLLs call inside is untouched.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

// Every import the injector can fail; the names are the exported names the module imports
// (SetWindowLongW stands for SetWindowLongPtrW in a 64-bit module).
enum class Import : int {
  LocalAlloc, LocalLock, LocalUnlock, LocalFree,
  malloc, calloc, realloc,
  CreateDIBSection, CreateCompatibleDC, SelectObject, GetDIBits, GetObjectW, GdiFlush, DeleteObject, DeleteDC,
  CreateFontIndirectW, GetDIBColorTable, GetTextMetricsW, GetTextExtentPoint32W,
  CoInitializeEx, CLSIDFromProgID, CoCreateInstance,
  RegCreateKeyExA, RegOpenKeyExA, RegQueryValueExA, RegSetValueExA, RegCloseKey,
  MultiByteToWideChar, WideCharToMultiByte,
  CreateWindowExW, SetWindowLongW, SendMessageW, RegisterClassExW, GetDC, SetWindowTextW, GetWindowTextW,
  GetWindowTextLengthW, MessageBoxW,
  FindResourceW, LoadResource, LockResource,
  Count
};
inline constexpr int kImportCount = static_cast<int>(Import::Count);

const char* ImportName(Import import) noexcept;

// What the armed thread acquired through the module's imports and has not released (yet).
struct Holdings {
  std::vector<HLOCAL> localBlocks;
  std::vector<void*> heapBlocks;
  std::vector<size_t> heapBytes;
  std::vector<HGDIOBJ> gdiObjects;  // bitmaps, fonts and memory DCs the module made, windows' DCs it took
  std::vector<HKEY> keys;
  std::vector<HWND> windowsAlive;   // windows it created that still exist
  bool Empty() const {
    return localBlocks.empty() && heapBlocks.empty() && gdiObjects.empty() && keys.empty() && windowsAlive.empty();
  }
  std::string Describe() const;
};

class FaultInjector {
 public:
  // Patches every import of `module` listed above. One injector at a time; the destructor puts the
  // original addresses back.
  explicit FaultInjector(HMODULE module);
  ~FaultInjector();
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // Starts counting the calling thread's calls from zero, with an empty ledger; the n-th call
  // (1-based) of `import` fails, or none when n is 0. Disarm stops counting; the ledger stays readable.
  void Arm(Import import = Import::Count, int n = 0);
  // The same, but nothing is counted or noted before the first call of `trigger` (which counts).
  void ArmFrom(Import trigger, Import import = Import::Count, int n = 0);
  void Disarm();
  // Counts the calling thread again without clearing counts or ledger (after a pause by Disarm).
  void Resume();
  // The same, for a thread other than the caller (a dialog's thread driven from a helper).
  void ArmThread(DWORD thread, Import import, int n);

  int Calls(Import import) const;
  bool Injected() const;  // whether the chosen call came and was failed
  Import Failed() const;  // the import whose call was failed; Import::Count when none
  Holdings Held() const;
  // Forgets a local block the module handed over (a host owns it now).
  void HandedOver(HLOCAL block);
  // Releases, with the real functions, what a failed release (LocalFree, DeleteObject, RegCloseKey
  // made to fail) had to leave behind: those are the injected failure's doing, not the module's.
  void CleanUpAfterFailedReleases();

  // How many imports of the list the module has; 0 means nothing was patched.
  int Patched() const { return patched_; }

 private:
  HMODULE module_;
  int patched_ = 0;
};

// Writes `replacement` into every import address slot of `module` that imports `dll`!`name`.
// Returns how many slots were written. For a module bound by hand as well as a loaded one.
int PatchImport(HMODULE module, const char* name, void* replacement, void** original);

// The hook address for an import (the module's slot gets it), and where the hook finds the real one.
void* HookFor(Import import) noexcept;
void SetOriginal(Import import, void* address) noexcept;

}  // namespace test
