// The private folder of one render, under the Windows temporary folder: the script, the picture and
// the status live there, and the engine's home and temporary files in a scratch folder.
#pragma once

#include <windows.h>

#include <optional>
#include <string>


namespace browser {

class CallFolder {
 public:
  // Creates a new folder with a name no other call uses, holding the host's sign of life. Its name
  // carries this process's id and start, so that a later call can tell when the owner is gone;
  // first removes the folders of calls whose owner is gone. Raises Failure.
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
  // Meanwhile shows the script that the host lives.
  std::optional<int> WaitForStatus(DWORD waitMs) const;

  // The script is still running: it is told to remove the folder itself when it ends.
  void Abandon() noexcept;

 private:
  // Puts the host's sign of life back when the script took it away.
  void ShowAlive() const;

  std::wstring path_;
  bool abandoned_ = false;
};

}  // namespace browser
