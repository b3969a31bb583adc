// One picture request, driven as a host image viewer drives it.
#include "tools/plugin_host/picture_job.h"

#include <cstring>
#include <vector>

#include "tools/plugin_host/console.h"
#include "tools/plugin_host/dib_layout.h"
#include "tools/plugin_host/exit_code.h"
#include "win/bmp_writer.h"
#include "win/kernel_handles.h"

namespace plugin_host {
namespace {

// Hosts hand IsSupported the file's first 2 KiB, zero-padded, for plug-ins that sniff contents.
constexpr DWORD kSniffBytes = 2048;
constexpr unsigned int kKindFile = 0;

using zelnar::FileHandle;

// The blocks a plug-in hands over on result 0: the host owns and frees them.
class OwnedBlock {
 public:
  explicit OwnedBlock(HLOCAL h) : h_(h) {}
  ~OwnedBlock() {
    if (locked_) LocalUnlock(h_);
    if (h_) LocalFree(h_);
  }
  OwnedBlock(const OwnedBlock&) = delete;
  OwnedBlock& operator=(const OwnedBlock&) = delete;
  const unsigned char* Lock() {
    auto* p = static_cast<const unsigned char*>(LocalLock(h_));
    locked_ = p != nullptr;
    return p;
  }
  std::size_t Size() const { return LocalSize(h_); }

 private:
  HLOCAL h_;
  bool locked_ = false;
};

struct ProgressState {
  int calls = 0;
  int stopAtCall = 0;
};

int __stdcall ShowProgress(int done, int total, LONG_PTR data) {
  auto* state = reinterpret_cast<ProgressState*>(data);
  ++state->calls;
  bool stop = state->calls == state->stopAtCall;
  Out(L" [" + std::to_wstring(done) + L"/" + std::to_wstring(total) + (stop ? L" stop]" : L"]"));
  return stop ? 1 : 0;
}

const wchar_t* ResultMeaning(int result) {
  switch (result) {
    case 1: return L"stopped at the progress callback's request";
    case 2: return L"the input is not a file";
    case 4: return L"allocating memory failed";
    case 5: return L"locking memory failed";
    case 8: return L"internal error (the page could not be captured)";
    default: return L"unknown result";
  }
}

std::wstring FileNamePart(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/:");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Writes file header, header block and rows. Returns an empty string or what went wrong.
std::wstring WriteBmp(const std::wstring& target, const DibLayout& layout, const unsigned char* header,
                      const unsigned char* bits) {
  const DWORD error = zelnar::WriteBmpFile(target.c_str(), header, layout.headerBytes, bits, layout.imageBytes);
  return error ? SystemMessage(error) : std::wstring();
}

int SavePicture(HLOCAL headerHandle, HLOCAL bitsHandle, const std::wstring& target, long long milliseconds) {
  OwnedBlock headerBlock(headerHandle), bitsBlock(bitsHandle);
  if (!headerHandle || !bitsHandle) {
    Out(L" error: result 0 without both handles\n");
    return kExitBadPicture;
  }
  const unsigned char* header = headerBlock.Lock();
  const unsigned char* bits = bitsBlock.Lock();
  if (!header || !bits) {
    Out(L" error: a block handed over cannot be locked\n");
    return kExitBadPicture;
  }
  DibLayout layout;
  std::string problem = ParseDibLayout(header, headerBlock.Size(), bitsBlock.Size(), &layout);
  if (!problem.empty()) {
    Out(L" error: bad bitmap: " + FromAnsi(problem) + L"\n");
    return kExitBadPicture;
  }
  std::wstring error = WriteBmp(target, layout, header, bits);
  if (!error.empty()) {
    Out(L" error: cannot write " + target + L": " + error + L"\n");
    return kExitFileError;
  }
  Out(L" -> " + target + L" (" + std::to_wstring(layout.width) + L"x" + std::to_wstring(layout.height) + L", " +
      std::to_wstring(layout.bitCount) + L"-bit, " + std::to_wstring(milliseconds) + L" ms)\n");
  return kExitOk;
}

}  // namespace

FileOutcome RenderFile(const PictureApi& api, const std::wstring& path, const PictureOptions& options,
                       bool fromFolder, int* exitCode) {
  Out(path + L":");
  auto fail = [&](int code, const std::wstring& why) {
    Out(L" error: " + why + L"\n");
    *exitCode = code;
    return FileOutcome::kFailed;
  };
  *exitCode = kExitOk;

  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return fail(kExitFileError, L"no such file");
  wchar_t full[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(path.c_str(), DWORD(sizeof full / sizeof full[0]), full, nullptr);
  if (n == 0 || n >= sizeof full / sizeof full[0]) return fail(kExitFileError, L"path too long");
  const bool wide = api.getPictureW != nullptr;
  std::string ansi;
  if (!wide && !ToAnsi(full, &ansi))
    return fail(kExitFileError, L"the path has characters outside the ANSI code page (try --wide)");

  std::vector<char> head(kSniffBytes, 0);
  {
    FileHandle file(CreateFileW(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD got = 0;
    if (!file || !ReadFile(file.Get(), head.data(), kSniffBytes, &got, nullptr))
      return fail(kExitFileError, L"cannot read: " + SystemMessage(GetLastError()));
  }
  const DWORD_PTR headArgument = reinterpret_cast<DWORD_PTR>(head.data());
  if (!(wide ? api.isSupportedW(full, headArgument) : api.isSupported(ansi.c_str(), headArgument))) {
    if (fromFolder) {
      Out(L" skipped (not claimed by the plug-in)\n");
      return FileOutcome::kSkipped;
    }
    return fail(kExitRefused, L"refused: IsSupported answered 0");
  }

  HLOCAL header = nullptr;
  HLOCAL bits = nullptr;
  ProgressState progress;
  progress.stopAtCall = options.stopAtCall;
  const LONG_PTR data = reinterpret_cast<LONG_PTR>(&progress);
  // How long the plug-in took, callbacks included: what a viewer's user waits for.
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = wide ? api.getPictureW(full, 0, kKindFile, &header, &bits, &ShowProgress, data)
                    : api.getPicture(ansi.c_str(), 0, kKindFile, &header, &bits, &ShowProgress, data);
  QueryPerformanceCounter(&end);
  if (result != 0) {
    // Only result 0 hands the blocks over; whatever else is left there is not ours to free.
    std::wstring left = (header || bits) ? L"; the plug-in left non-zero handles behind" : L"";
    return fail(ExitCodeForResult(result),
                L"result " + std::to_wstring(result) + L": " + ResultMeaning(result) + left);
  }
  std::wstring target = options.outDir + L"\\" + FileNamePart(path) + (options.preview ? L".preview.bmp" : L".bmp");
  *exitCode = SavePicture(header, bits, target, (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
  return *exitCode == kExitOk ? FileOutcome::kRendered : FileOutcome::kFailed;
}

}  // namespace plugin_host
