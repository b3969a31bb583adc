#include "win/bmp_writer.h"

#include "win/bmp_file.h"
#include "win/kernel_handles.h"

namespace zelnar {
namespace {

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  DWORD written = 0;
  return WriteFile(file, data, DWORD(size), &written, nullptr) && written == size;
}

}  // namespace

DWORD WriteBmpFile(const wchar_t* path, const void* header, std::size_t headerBytes, const void* bits,
                   std::size_t imageBytes) noexcept {
  if (kBmpFileHeaderSize + headerBytes + imageBytes > MAXDWORD) return ERROR_FILE_TOO_LARGE;
  FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  const auto fileHeader = BmpFileHeader(DWORD(headerBytes), DWORD(imageBytes));
  bool ok = WriteAll(file.Get(), fileHeader.data(), fileHeader.size()) && WriteAll(file.Get(), header, headerBytes) &&
            WriteAll(file.Get(), bits, imageBytes);
  DWORD error = ok ? 0 : GetLastError();
  // A write can still fail when the handle is closed.
  if (!file.Reset() && ok) {
    ok = false;
    error = GetLastError();
  }
  if (ok) return 0;
  DeleteFileW(path);
  return error ? error : ERROR_WRITE_FAULT;
}

}  // namespace zelnar
