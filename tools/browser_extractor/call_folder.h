// The private folder of one render, under the Windows temporary folder: the script, the picture and
// the status live there, and the engine's home and temporary files in a scratch folder.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace browser {

class CallFolder {
 public:
  // Creates a new, empty folder with a name no other call uses. Raises Failure.
  CallFolder();
  // Removes the files the extractor knows and the folder, unless Abandon() left that to the script.
  ~CallFolder();
  CallFolder(const CallFolder&) = delete;
  CallFolder& operator=(const CallFolder&) = delete;

  const std::wstring& Path() const noexcept { return path_; }
  std::wstring File(const char* name) const;

  // Writes `bytes` as the whole file `name`. Raises Failure.
  void Write(const char* name, const std::string& bytes) const;

  // Waits until the script's status file appears or `waitMs` pass; the status, or none in time.
  std::optional<int> WaitForStatus(DWORD waitMs) const;

  // The script is still running: it is told to remove the folder itself when it ends.
  void Abandon() noexcept;

 private:
  std::wstring path_;
  bool abandoned_ = false;
};

}  // namespace browser
