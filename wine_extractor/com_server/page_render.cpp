#include "wine_extractor/com_server/page_render.h"

#include <vector>

#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/service_client.h"
#include "wine_extractor/com_server/png_picture.h"
#include "wine_extractor/com_server/wine_paths.h"
#include "wine_extractor/protocol/driver_status.h"
#include "win/kernel_handles.h"
#include "win/text_conversion.h"

namespace wine_extractor {
namespace {

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) throw LastErrorFailure(L"not a path: " + path);
  std::vector<wchar_t> full(needed);
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) throw LastErrorFailure(L"not a path: " + path);
  return std::wstring(full.data(), length);
}

// The Unix path of the page driver installed beside this DLL.
std::string DriverBesideModule() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&DriverBesideModule), &self))
    throw LastErrorFailure(L"cannot find the extractor's own module");
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(self, path.data(), DWORD(path.size()));
    if (length == 0) throw LastErrorFailure(L"cannot find the extractor's own file");
    if (length < path.size()) {
      std::wstring folder(path.data(), length);
      folder.resize(folder.find_last_of(L"\\/") + 1);
      return UnixPath(folder) + "/" + kDriverName;
    }
    path.resize(path.size() * 2);
  }
}

// A page that cannot be opened would still give a picture (the engine's error page): refuse it here.
void CheckReadable(const std::wstring& page) {
  zelnar::FileHandle file(CreateFileW(page.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw LastErrorFailure(L"the page cannot be read: " + page);
}

// Raises the Failure a driver status other than success stands for, with what the service said of it
// (`reason`, UTF-8) after its own words.
void CheckStatus(int status, const std::string& reason) {
  if (status == 0) return;
  std::wstring said = zelnar::WidenUtf8Replacing(reason);
  while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r')) said.pop_back();
  const auto fail = [&said](HRESULT result, const std::wstring& text) {
    return Failure(result, said.empty() ? text : text + L": " + said);
  };
  if (status == kDriverTimedOut) throw fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the engine ran out of time");
  if (status == kDriverNoLoad) throw fail(E_FAIL, L"the page did not load");
  if (status == kDriverMemory) throw fail(E_OUTOFMEMORY, L"the engine went over its memory ceiling");
  if (status == kDriverRefused) throw fail(E_ACCESSDENIED, L"the page is a link to a file outside its folder");
  throw fail(E_FAIL, L"the engine failed (driver status " + std::to_wstring(status) + L")");
}

}  // namespace

HBITMAP RenderPage(const std::wstring& page, int width, int height, const EngineSettings& settings,
                   RefusedRequests& refused) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
    throw Failure(E_INVALIDARG, L"the size asked for is out of range");
  const std::wstring fullPage = FullPath(page);
  CheckReadable(fullPage);
  if (GetFileAttributesW(WindowsPath(settings.engine).c_str()) == INVALID_FILE_ATTRIBUTES)
    throw Failure(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"the browser engine is not installed");
  const std::string driver = settings.driver.empty() ? DriverBesideModule() : settings.driver;
  if (GetFileAttributesW(WindowsPath(driver).c_str()) == INVALID_FILE_ATTRIBUTES)
    throw Failure(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"the page driver is missing");

  const ServiceCall call(
      {UnixPath(fullPage), width, height, settings.timeLimitMs, settings.memoryLimitMb, settings.strictFolder},
      driver, settings);
  refused = call.Refused();
  CheckStatus(call.Status(), call.Reason());
  return DecodePicture(call.Picture(), width, height);
}

}  // namespace wine_extractor
