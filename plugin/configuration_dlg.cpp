// ConfigurationDlg: opens the settings dialog for function code 1, and answers the host for it.
#include <windows.h>

#include "plugin/exports.h"
#include "plugin/host_result.h"
#include "settings/settings_dialog.h"
#include "win/debug_trace.h"

namespace {

constexpr int kConfigureFunction = 1;  // the only function code the plug-in offers
constexpr int kFunctionNotOffered = -1;

}  // namespace

extern "C" int __stdcall ConfigurationDlg(HWND parent, int function) noexcept {
  const zelnar::TraceScope scope(L"ConfigurationDlg");
  if (function != kConfigureFunction) return kFunctionNotOffered;
  // 0 whether or not the user saved; 8 only when the dialog could not be shown at all.
  return zelnar::RunSettingsDialog(parent) == zelnar::DialogOutcome::Ended ? 0 : zelnar::kResultInternalError;
}
