// The private folder of one render, under the Windows temporary folder: the picture, the status and
// the render's lock live there, and the engine's home and temporary files in a scratch folder. The
// render script makes it (mode 0700): the extractor only names it, writes nothing there before it
// exists, and never writes a script into it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>


namespace wine_extractor {

class CallFolder {
 public:
  // Picks a name nobody can guess (random, not a process id: those repeat across Wine servers). The
  // script sweeps the folders of ended calls. Raises Failure.
  CallFolder();
  // Removes the files the extractor knows and the folder, unless Abandon() left that to the script.
  ~CallFolder();
  CallFolder(const CallFolder&) = delete;
  CallFolder& operator=(const CallFolder&) = delete;

  const std::wstring& Path() const noexcept { return path_; }
  std::wstring File(const char* name) const;

  // Waits until the script's status file appears or `waitMs` pass; the status, or none in time.
  // Meanwhile shows the script that the host lives. Raises Failure when the script never made the
  // folder.
  std::optional<int> WaitForStatus(DWORD waitMs) const;

  // The script is still running: it is told to remove the folder itself when it ends.
  void Abandon() noexcept;

 private:
  // Puts the host's sign of life back when the script took it away.
  void ShowAlive() const;

  std::wstring path_;
  bool abandoned_ = false;
};

}  // namespace wine_extractor
