// ConfigurationDlg: opens the settings dialog for function code 1.
#include <windows.h>

#include "plugin/exports.h"
#include "settings/dialog_unit.h"
#include "win/debug_trace.h"

extern "C" int __stdcall ConfigurationDlg(HWND parent, int function) noexcept {
  const zelnar::TraceScope scope(L"ConfigurationDlg");
  return zelnar::RunConfigurationDialog(parent, function);
}
