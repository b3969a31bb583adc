// Loads the plug-in of the test's own bitness (zelnar.spi or zelnar.sph) as a host does and looks its
// exports up by their plain names.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace test {

#ifdef _WIN64
inline constexpr char kPluginFile[] = "zelnar.sph";
#else
inline constexpr char kPluginFile[] = "zelnar.spi";
#endif

// Exact signatures a host calls through; LONG_PTR and pointers are 64 bits in a 64-bit host.
using GetPluginInfoFn = int(__stdcall*)(int, char*, int);
using IsSupportedFn = int(__stdcall*)(const char*, DWORD_PTR);
using GetPictureInfoFn = int(__stdcall*)(const char*, LONG_PTR, unsigned int, void*);
using ProgressCallbackFn = int(__stdcall*)(int, int, LONG_PTR);
using GetPictureFn = int(__stdcall*)(const char*, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*, ProgressCallbackFn,
                                     LONG_PTR);
using ConfigurationDlgFn = int(__stdcall*)(HWND, int);
using GetPluginInfoWFn = int(__stdcall*)(int, wchar_t*, int);
using IsSupportedWFn = int(__stdcall*)(const wchar_t*, DWORD_PTR);
using GetPictureInfoWFn = int(__stdcall*)(const wchar_t*, LONG_PTR, unsigned int, void*);
using GetPictureWFn = int(__stdcall*)(const wchar_t*, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*, ProgressCallbackFn,
                                      LONG_PTR);

class PluginModule {
 public:
  explicit PluginModule(const char* path = kPluginFile) : path_(path) { Load(); }
  ~PluginModule() { Free(); }
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Detach and attach again, so the plug-in reads its settings anew.
  void Reload() {
    Free();
    Load();
  }

  template <typename Fn>
  Fn Get(const char* name) const {
    FARPROC proc = GetProcAddress(module_, name);
    if (!proc) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
  }

  HMODULE Handle() const { return module_; }

  void Free() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  void Load() {
    module_ = LoadLibraryA(path_.c_str());
    if (!module_) throw std::runtime_error("cannot load " + path_);
  }
  std::string path_;
  HMODULE module_ = nullptr;
};

// A host that loads the plug-in for every picture: `rounds` times LoadLibrary, GetPicture of `page`
// (none: no picture), LocalFree of both blocks, FreeLibrary. Counts the pictures that failed.
inline int LoadDrawFree(const char* page, int rounds) {
  int failed = 0;
  for (int i = 0; i < rounds; ++i) {
    const HMODULE module = LoadLibraryA(kPluginFile);
    if (!module) return rounds;
    if (page) {
      const auto picture = reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetPicture")));
      HLOCAL header = nullptr, bits = nullptr;
      if (!picture || picture(page, 0, 0, &header, &bits, nullptr, 0) != 0) ++failed;
      LocalFree(header);
      LocalFree(bits);
    }
    FreeLibrary(module);
  }
  return failed;
}

}  // namespace test
