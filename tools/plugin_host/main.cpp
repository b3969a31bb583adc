// zelnar_host: a small host image viewer on the command line. Loads a plug-in DLL by path and drives
// it through its exports as a viewer does: identity strings, IsSupported, GetPicture/GetPreview to
// .bmp files, and the settings dialog owned by a window of its own.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/plugin_host/console.h"
#include "tools/plugin_host/exit_code.h"
#include "tools/plugin_host/picture_job.h"
#include "tools/plugin_host/plugin_library.h"
#include "tools/plugin_host/settings_window.h"
#include "win/kernel_handles.h"

namespace plugin_host {
namespace {

constexpr int kInfoBuffer = 256;
constexpr int kConfigureFunction = 1;

constexpr wchar_t kUsage[] =
    L"usage: zelnar_host [--wide] COMMAND PLUGIN ...\n"
    L"  --wide                                       use the wide entry points (GetPluginInfoW,\n"
    L"                                               IsSupportedW, GetPictureW, GetPreviewW)\n"
    L"  zelnar_host info PLUGIN                      print the identity strings\n"
    L"  zelnar_host supported PLUGIN FILE...         ask IsSupported for each file\n"
    L"  zelnar_host render PLUGIN [--preview] [--out DIR] [--stop-at N] PATH...\n"
    L"                                               render files, or the claimed files of folders,\n"
    L"                                               to DIR\\<name>.bmp (default: the current folder)\n"
    L"  zelnar_host config PLUGIN [CODE]             open the settings dialog (function code 1)\n"
    L"exit codes: 0 ok, 1 usage, 2 cannot load the plug-in, 3 missing export, 4 file refused,\n"
    L"  5 file error, 6 bad picture, 7 dialog failed, 10+N plug-in result N (11, 12, 14, 15, 18),\n"
    L"  19 other result\n";

int Usage(const std::wstring& problem) {
  if (!problem.empty()) Err(L"error: " + problem + L"\n");
  Err(kUsage);
  return kExitUsage;
}

bool ParseCount(const std::wstring& text, int* value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
  *value = std::stoi(text);
  return true;
}

bool wideEntries = false;  // --wide: the W forms of the entry points

// One identity string through GetPluginInfo or GetPluginInfoW; false when the export is missing.
bool IdentityString(const PluginLibrary& plugin, int index, std::wstring* text) {
  if (wideEntries) {
    auto getPluginInfoW = plugin.Export<GetPluginInfoWFn>("GetPluginInfoW");
    if (!getPluginInfoW) return false;
    wchar_t buffer[kInfoBuffer] = {};
    const int length = std::clamp(getPluginInfoW(index, buffer, kInfoBuffer), 0, kInfoBuffer - 1);
    *text = std::wstring(buffer, length);
    return true;
  }
  auto getPluginInfo = plugin.Export<GetPluginInfoFn>("GetPluginInfo");
  if (!getPluginInfo) return false;
  char buffer[kInfoBuffer] = {};
  const int length = std::clamp(getPluginInfo(index, buffer, kInfoBuffer), 0, kInfoBuffer - 1);
  *text = FromAnsi(std::string(buffer, length));
  return true;
}

int Info(const PluginLibrary& plugin) {
  static const wchar_t* const kRoles[] = {L"kind", L"name", L"patterns", L"format"};
  for (int index = 0; index < 4; ++index) {
    std::wstring text;
    if (!IdentityString(plugin, index, &text)) return kExitMissingExport;
    Out(std::to_wstring(index) + L" " + kRoles[index] + L": " + text + L"\n");
  }
  return kExitOk;
}

int Supported(const PluginLibrary& plugin, const std::vector<std::wstring>& files) {
  if (wideEntries) {
    auto isSupportedW = plugin.Export<IsSupportedWFn>("IsSupportedW");
    if (!isSupportedW) return kExitMissingExport;
    int exitCode = kExitOk;
    for (const std::wstring& file : files) {
      char head[2048] = {};
      const bool claimed = isSupportedW(file.c_str(), reinterpret_cast<DWORD_PTR>(head)) != 0;
      Out(file + (claimed ? L": claimed\n" : L": not claimed\n"));
      if (!claimed && exitCode == kExitOk) exitCode = kExitRefused;
    }
    return exitCode;
  }
  auto isSupported = plugin.Export<IsSupportedFn>("IsSupported");
  if (!isSupported) return kExitMissingExport;
  int exitCode = kExitOk;
  for (const std::wstring& file : files) {
    std::string ansi;
    if (!ToAnsi(file, &ansi)) {
      Out(file + L": error: the path has characters outside the ANSI code page\n");
      if (exitCode == kExitOk) exitCode = kExitFileError;
      continue;
    }
    char head[2048] = {};
    bool claimed = isSupported(ansi.c_str(), reinterpret_cast<DWORD_PTR>(head)) != 0;
    Out(file + (claimed ? L": claimed\n" : L": not claimed\n"));
    if (!claimed && exitCode == kExitOk) exitCode = kExitRefused;
  }
  return exitCode;
}

// The files of a folder, sorted by name; sub-folders are not entered.
std::vector<std::wstring> FolderFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const zelnar::FindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(search.Get(), &found));
  std::sort(names.begin(), names.end());
  for (std::wstring& name : names) name = folder + L"\\" + name;
  return names;
}

int Render(const PluginLibrary& plugin, const std::vector<std::wstring>& args) {
  PictureOptions options;
  std::vector<std::wstring> paths;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"--preview") {
      options.preview = true;
    } else if (a == L"--out" && i + 1 < args.size()) {
      options.outDir = args[++i];
    } else if (a == L"--stop-at" && i + 1 < args.size()) {
      if (!ParseCount(args[++i], &options.stopAtCall)) return Usage(L"--stop-at takes a call number");
    } else if (a.rfind(L"--", 0) == 0) {
      return Usage(L"unknown option " + a);
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return Usage(L"render needs at least one file or folder");
  if (options.outDir.empty()) options.outDir = L".";
  while (options.outDir.size() > 1 && (options.outDir.back() == L'\\' || options.outDir.back() == L'/'))
    options.outDir.pop_back();
  DWORD outAttributes = GetFileAttributesW(options.outDir.c_str());
  if (outAttributes == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(options.outDir.c_str(), nullptr)) {
    Err(L"error: cannot create the output folder " + options.outDir + L": " + SystemMessage(GetLastError()) + L"\n");
    return kExitFileError;
  }

  PictureApi api;
  if (wideEntries) {
    api.isSupportedW = plugin.Export<IsSupportedWFn>("IsSupportedW");
    api.getPictureW = plugin.Export<GetPictureWFn>(options.preview ? "GetPreviewW" : "GetPictureW");
    if (!api.isSupportedW || !api.getPictureW) return kExitMissingExport;
  } else {
    api.isSupported = plugin.Export<IsSupportedFn>("IsSupported");
    api.getPicture = plugin.Export<GetPictureFn>(options.preview ? "GetPreview" : "GetPicture");
    if (!api.isSupported || !api.getPicture) return kExitMissingExport;
  }

  int firstFailure = kExitOk;
  int rendered = 0, skipped = 0, failed = 0;
  // One file: render it and keep the tally.
  auto renderOne = [&](const std::wstring& file, bool fromFolder) {
    int code = kExitOk;
    FileOutcome outcome = RenderFile(api, file, options, fromFolder, &code);
    if (outcome == FileOutcome::kRendered) ++rendered;
    if (outcome == FileOutcome::kSkipped) ++skipped;
    if (outcome == FileOutcome::kFailed) ++failed;
    if (code != kExitOk && firstFailure == kExitOk) firstFailure = code;
  };
  for (const std::wstring& path : paths) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      for (const std::wstring& file : FolderFiles(path)) renderOne(file, true);
    } else {
      renderOne(path, false);
    }
  }
  Out(std::to_wstring(rendered) + L" rendered, " + std::to_wstring(skipped) + L" skipped, " +
      std::to_wstring(failed) + L" failed\n");
  return firstFailure;
}

int Config(const PluginLibrary& plugin, const std::vector<std::wstring>& args) {
  int function = kConfigureFunction;
  if (args.size() > 1) return Usage(L"config takes at most one function code");
  if (args.size() == 1 && !ParseCount(args[0], &function)) return Usage(L"bad function code " + args[0]);
  auto configurationDlg = plugin.Export<ConfigurationDlgFn>("ConfigurationDlg");
  if (!configurationDlg) return kExitMissingExport;
  SettingsWindow window;
  if (!window.Create()) return kExitDialog;
  int result = configurationDlg(window.Handle(), function);
  Out(L"ConfigurationDlg(" + std::to_wstring(function) + L") returned " + std::to_wstring(result) + L"\n");
  if (result == -1) {
    Err(L"error: the plug-in does not offer function " + std::to_wstring(function) + L"\n");
    return kExitDialog;
  }
  // A viewer asks again, since the dialog may have changed the patterns.
  if (std::wstring patterns; IdentityString(plugin, 2, &patterns)) Out(L"patterns now: " + patterns + L"\n");
  return kExitOk;
}

int Run(std::vector<std::wstring> args) {
  if (!args.empty() && args[0] == L"--wide") {
    wideEntries = true;
    args.erase(args.begin());
  }
  if (args.size() < 2) return Usage(args.empty() || args[0] == L"--help" ? L"" : L"missing the plug-in path");
  const std::wstring& command = args[0];
  if (command != L"info" && command != L"supported" && command != L"render" && command != L"config")
    return Usage(L"unknown command " + command);
  std::vector<std::wstring> rest(args.begin() + 2, args.end());
  if (command == L"info" && !rest.empty()) return Usage(L"info takes no further arguments");
  if (command == L"supported" && rest.empty()) return Usage(L"supported needs at least one file");

  PluginLibrary plugin;
  if (!plugin.Load(args[1])) return kExitCannotLoad;
  if (command == L"info") return Info(plugin);
  if (command == L"supported") return Supported(plugin, rest);
  if (command == L"render") return Render(plugin, rest);
  return Config(plugin, rest);
}

}  // namespace
}  // namespace plugin_host

int wmain(int argc, wchar_t** argv) {
  try {
    return plugin_host::Run(std::vector<std::wstring>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    plugin_host::Err(L"error: " + plugin_host::FromAnsi(e.what()) + L"\n");
    return plugin_host::kExitFileError;
  }
}
