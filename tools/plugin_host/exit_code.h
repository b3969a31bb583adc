// The host program's exit codes: each failure a script may want to tell apart has its own.
#pragma once

namespace plugin_host {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,          // bad command line
  kExitCannotLoad = 2,     // the plug-in DLL cannot be loaded
  kExitMissingExport = 3,  // the plug-in lacks a function the command needs
  kExitRefused = 4,        // IsSupported answered 0 for a file named on the command line
  kExitFileError = 5,      // an input cannot be found or named in ANSI, an output cannot be written
  kExitBadPicture = 6,     // result 0, but the blocks handed over are not a usable bitmap
  kExitDialog = 7,         // no window for the dialog, or ConfigurationDlg answered -1
  kExitResultBase = 10,    // GetPicture/GetPreview answered 1..8: 10 + that result (11 stop, 12 not
                           // a file, 14 allocation, 15 lock, 18 internal error)
  kExitOtherResult = 19,   // any other non-zero result
};

// The exit code for a non-zero result of GetPicture or GetPreview.
constexpr int ExitCodeForResult(int result) {
  return (result >= 1 && result <= 8) ? kExitResultBase + result : kExitOtherResult;
}

}  // namespace plugin_host
