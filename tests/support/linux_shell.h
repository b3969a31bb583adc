// Runs a /bin/sh command line from a test inside Wine and reads what it printed. Wine starts Linux
// programs but its process handle does not follow them, so the command writes a done-marker last.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace test {

inline std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a file to read");
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

inline void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a file");
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) throw std::runtime_error("cannot write a file");
}

// Runs `script` (sh syntax, UTF-8) with `folder` (a Windows path) as the current folder and returns
// its standard output. The script and its output live in `folder` only while it runs.
inline std::string RunShell(const std::wstring& folder, const std::string& script, DWORD limitMs = 10000) {
  const std::wstring scriptPath = folder + L"\\test-shell.sh";
  const std::wstring outPath = folder + L"\\test-shell.out";
  const std::wstring donePath = folder + L"\\test-shell.done";
  DeleteFileW(donePath.c_str());
  WriteWholeFile(scriptPath, "{\n" + script + "\n} > test-shell.out 2>/dev/null\n: > test-shell.done\n");
  // The shell by Wine's form of its Unix path, which needs no drive for the root.
  std::wstring command = L"\\\\?\\unix\\bin\\sh test-shell.sh";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder.c_str(),
                      &startup, &process))
    throw std::runtime_error("cannot start /bin/sh");
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const ULONGLONG start = GetTickCount64();
  while (GetFileAttributesW(donePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() - start > limitMs) throw std::runtime_error("the shell command did not end");
    Sleep(5);
  }
  std::string output = ReadWholeFile(outPath);
  for (const std::wstring& path : {scriptPath, outPath, donePath}) DeleteFileW(path.c_str());
  return output;
}

}  // namespace test
