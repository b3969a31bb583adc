#include "wine_extractor/com_server/start_shell.h"

#include <windows.h>

#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/wine_paths.h"
#include "win/kernel_handles.h"
#include "win/text_conversion.h"

namespace wine_extractor {
namespace {

// Longer than this, CreateProcessW refuses the command line.
constexpr size_t kMaxCommandLine = 32767;

// The shell's command line with the script as its one argument, quoted by the rules Wine splits the
// command line with: backslashes count only before a quote, so those are doubled there and at the end.
std::wstring ShellCommand(const std::wstring& script) {
  std::wstring command = L"\"" + WindowsPath("/bin/sh") + L"\" -c \"";
  size_t backslashes = 0;
  for (wchar_t c : script) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') command.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    command += c;
  }
  command.append(backslashes, L'\\');
  command += L'"';
  return command;
}

}  // namespace

void StartShell(const std::string& script) {
  std::wstring text;
  try {
    text = zelnar::WidenUtf8(script);
  } catch (const zelnar::TextConversionError&) {
    throw Failure(E_INVALIDARG, L"a path for the service script is not UTF-8");
  }
  std::wstring command = ShellCommand(text);
  if (command.size() >= kMaxCommandLine)
    throw Failure(E_INVALIDARG, L"the service script is too long for a command line");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started))
    throw LastErrorFailure(L"cannot start /bin/sh");
  // Neither handle follows the Linux program (Wine's own handle says nothing of it): both are let go.
  const zelnar::KernelHandle process(started.hProcess), thread(started.hThread);
}

}  // namespace wine_extractor
