// A real file for picture requests: the plug-in refuses a path that names no readable file before
// the extractor sees it. The stand-in draws its pattern whatever the file holds.
#pragma once

#include <windows.h>

#include <string>

namespace test {

class PageFile {
 public:
  // `name` is made unique to the process and put in the temporary folder.
  explicit PageFile(const char* name) {
    char directory[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, directory)) directory[0] = '\0';
    path_ = std::string(directory) + std::to_string(GetCurrentProcessId()) + "-" + name;
    const HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  ~PageFile() { DeleteFileA(path_.c_str()); }
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  const char* Path() const noexcept { return path_.c_str(); }

 private:
  std::string path_;
};

}  // namespace test
