// Renders one file through GetPicture or GetPreview as a host does and writes the result as .bmp.
#pragma once

#include <string>

#include "tools/plugin_host/plugin_library.h"

namespace plugin_host {

// Either the ANSI pair or, with --wide, the wide pair is set.
struct PictureApi {
  IsSupportedFn isSupported = nullptr;
  GetPictureFn getPicture = nullptr;  // GetPicture, or GetPreview
  IsSupportedWFn isSupportedW = nullptr;
  GetPictureWFn getPictureW = nullptr;  // GetPictureW, or GetPreviewW
};

struct PictureOptions {
  bool preview = false;
  std::wstring outDir;  // where the .bmp files go
  int stopAtCall = 0;   // the progress callback asks to stop on this call (1-based); 0: never
};

enum class FileOutcome { kRendered, kSkipped, kFailed };

// Prints one line for the file. fromFolder: a file that the plug-in does not claim is skipped
// quietly instead of being an error. *exitCode receives the file's exit code (kExitOk unless failed).
FileOutcome RenderFile(const PictureApi& api, const std::wstring& path, const PictureOptions& options,
                       bool fromFolder, int* exitCode);

}  // namespace plugin_host
