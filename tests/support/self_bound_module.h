// Loads a DLL the way the system's loader does, except that the test binds the module's imports
// itself: the image is mapped with DONT_RESOLVE_DLL_REFERENCES (no imports, no entry point), every
// import slot is filled from GetProcAddress of the DLL it names, and only then are the TLS callbacks
// and the entry point called with DLL_PROCESS_ATTACH. A fault injector patched in between sees every
// call the module makes while it is attached: static initialisation and the settings load included.
// Everything used is documented PE structure; the one liberty is being the loader ourselves.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace test {

class SelfBoundModule {
 public:
  explicit SelfBoundModule(const char* path) {
    module_ = LoadLibraryExA(path, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module_) throw std::runtime_error(std::string("cannot map ") + path);
    Bind();
  }
  ~SelfBoundModule() {
    Detach();
    FreeLibrary(module_);
    for (auto it = dependencies_.rbegin(); it != dependencies_.rend(); ++it) FreeLibrary(*it);
  }
  SelfBoundModule(const SelfBoundModule&) = delete;
  SelfBoundModule& operator=(const SelfBoundModule&) = delete;

  HMODULE Handle() const { return module_; }

  // Process attach, as the loader sends it: TLS callbacks, then the entry point. False when the
  // entry point refused; the module has then been detached again, as the loader does.
  bool Attach() {
    Notify(DLL_PROCESS_ATTACH);
    attached_ = Entry()(reinterpret_cast<HINSTANCE>(module_), DLL_PROCESS_ATTACH, nullptr) != FALSE;
    if (!attached_) {
      Entry()(reinterpret_cast<HINSTANCE>(module_), DLL_PROCESS_DETACH, nullptr);
      Notify(DLL_PROCESS_DETACH);
    }
    return attached_;
  }

  // Process detach as FreeLibrary sends it: the entry point, then the TLS callbacks.
  void Detach() {
    if (!attached_) return;
    attached_ = false;
    Entry()(reinterpret_cast<HINSTANCE>(module_), DLL_PROCESS_DETACH, nullptr);
    Notify(DLL_PROCESS_DETACH);
  }

  template <typename Fn>
  Fn Get(const char* name) const {
    FARPROC proc = GetProcAddress(module_, name);
    if (!proc) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
  }

 private:
  using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

  template <typename T>
  T* At(DWORD rva) const {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module_) + rva);
  }
  const IMAGE_NT_HEADERS* Headers() const {
    return At<const IMAGE_NT_HEADERS>(reinterpret_cast<const IMAGE_DOS_HEADER*>(module_)->e_lfanew);
  }
  EntryPoint Entry() const { return At<std::remove_pointer_t<EntryPoint>>(Headers()->OptionalHeader.AddressOfEntryPoint); }

  void Bind() {
    const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return;
    for (auto* d = At<const IMAGE_IMPORT_DESCRIPTOR>(directory.VirtualAddress); d->Name; ++d) {
      const char* dll = At<const char>(d->Name);
      HMODULE dependency = LoadLibraryA(dll);
      if (!dependency) throw std::runtime_error(std::string("cannot load ") + dll);
      dependencies_.push_back(dependency);
      const auto* names = At<const IMAGE_THUNK_DATA>(d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk);
      auto* slots = At<IMAGE_THUNK_DATA>(d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        const char* name = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                               ? MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal))
                               : reinterpret_cast<const char*>(At<const IMAGE_IMPORT_BY_NAME>(
                                     DWORD(names->u1.AddressOfData))->Name);
        FARPROC address = GetProcAddress(dependency, name);
        if (!address) throw std::runtime_error(std::string("cannot bind an import of ") + dll);
        DWORD protection = 0;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
        slots->u1.Function = reinterpret_cast<DWORD_PTR>(address);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      }
    }
  }

  // The TLS callbacks, in table order (the loader's order for attach and detach alike).
  void Notify(DWORD reason) {
    const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (!directory.VirtualAddress) return;
    const auto* tls = At<const IMAGE_TLS_DIRECTORY>(directory.VirtualAddress);
    auto* const* callback = reinterpret_cast<PIMAGE_TLS_CALLBACK const*>(tls->AddressOfCallBacks);
    for (; callback && *callback; ++callback) (*callback)(module_, reason, nullptr);
  }

  HMODULE module_ = nullptr;
  std::vector<HMODULE> dependencies_;
  bool attached_ = false;
};

}  // namespace test
