// zelnar_host.exe run as a user runs it: exit codes, messages and the .bmp files it writes, against
// fake_plugin.spi (whose answers follow the file name) and a system DLL that is no plug-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct HostRun {
  DWORD exitCode;
  std::string output;  // stdout and stderr together
};

HostRun RunHost(const std::string& args) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {~0u, "CreatePipe failed"};
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::string commandLine = "zelnar_host.exe " + args;
  BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                &process);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return {~0u, "CreateProcess failed"};
  }
  std::string output;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got) output.append(chunk, got);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = ~0u;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return {code, output};
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder holding empty files with the given names.
class Scratch {
 public:
  explicit Scratch(const std::vector<std::string>& files) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "zelnar_host_test_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(counter_++);
    CreateDirectoryA(dir_.c_str(), nullptr);
    for (const std::string& f : files) std::ofstream(Path(f)) << "<title>x</title>";
  }
  ~Scratch() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do DeleteFileA(Path(found.cFileName).c_str());
      while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA((dir_ + "\\out").c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  const std::string& Dir() const { return dir_; }

 private:
  static inline int counter_ = 0;
  std::string dir_;
};

std::string SystemDll(const char* name) {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  return std::string(system) + "\\" + name;
}

TEST(HostProgram, ExitCodeAndMessageTellEachFailureApart) {
  Scratch s({"ok.htm", "refuse.htm", "result1.htm", "result2.htm", "result4.htm", "result5.htm", "result8.htm",
             "result9.htm", "nohandles.htm", "badheader.htm"});
  const std::string out = " --out " + s.Dir();
  struct Case { std::string args; DWORD code; const char* says; };
  const Case cases[] = {
      {"", 1, "usage:"},
      {"draw fake_plugin.spi x.htm", 1, "unknown command draw"},
      {"render fake_plugin.spi --wide x.htm", 1, "unknown option --wide"},
      {"info no_such_plugin.spi", 2, "cannot load the plug-in"},
      {"render " + SystemDll("kernel32.dll") + " " + s.Path("ok.htm"), 3, "missing export IsSupported"},
      {"render fake_plugin.spi" + out + " " + s.Path("refuse.htm"), 4, "refused: IsSupported answered 0"},
      {"render fake_plugin.spi" + out + " " + s.Path("absent.htm"), 5, "no such file"},
      {"render fake_plugin.spi" + out + " " + s.Path("nohandles.htm"), 6, "result 0 without both handles"},
      {"render fake_plugin.spi" + out + " " + s.Path("badheader.htm"), 6, "bit count 7 is not supported"},
      {"config fake_plugin.spi 2", 7, "does not offer function 2"},
      {"render fake_plugin.spi" + out + " " + s.Path("result1.htm"), 11, "result 1: stopped"},
      {"render fake_plugin.spi" + out + " " + s.Path("result2.htm"), 12, "result 2: the input is not a file"},
      {"render fake_plugin.spi" + out + " " + s.Path("result4.htm"), 14, "result 4: allocating memory failed"},
      {"render fake_plugin.spi" + out + " " + s.Path("result5.htm"), 15, "result 5: locking memory failed"},
      {"render fake_plugin.spi" + out + " " + s.Path("result8.htm"), 18, "result 8: internal error"},
      {"render fake_plugin.spi" + out + " " + s.Path("result9.htm"), 19, "result 9: unknown result"},
      {"render fake_plugin.spi --stop-at 1" + out + " " + s.Path("ok.htm"), 11, "[0/1 stop] error: result 1"},
      {"render fake_plugin.spi --stop-at 2" + out + " " + s.Path("ok.htm"), 11, "[0/1] [1/1 stop] error: result 1"},
      {"render fake_plugin.spi" + out + " " + s.Path("ok.htm"), 0, "[0/1] [1/1] -> "},
      {"info fake_plugin.spi", 0, "0 kind: 00IN\n1 name: fake plug-in\n2 patterns: *.htm\n3 format: fake pages\n"},
      // --wide drives the W forms, which the fake marks in its name string.
      {"--wide info fake_plugin.spi", 0, "1 name: fake plug-in W\n2 patterns: *.htm\n"},
      {"--wide render " + SystemDll("kernel32.dll") + " " + s.Path("ok.htm"), 3, "missing export IsSupportedW"},
      {"--wide render fake_plugin.spi" + out + " " + s.Path("result8.htm"), 18, "result 8: internal error"},
      {"--wide render fake_plugin.spi" + out + " " + s.Path("ok.htm"), 0, "[0/1] [1/1] -> "},
      {"--wide supported fake_plugin.spi a.htm refuse.htm", 4, "a.htm: claimed\nrefuse.htm: not claimed\n"},
      {"supported fake_plugin.spi a.htm refuse.htm", 4, "a.htm: claimed\nrefuse.htm: not claimed\n"},
      // The first failure decides the exit code; the other files are still done.
      {"render fake_plugin.spi" + out + " " + s.Path("result8.htm") + " " + s.Path("result4.htm") + " " +
           s.Path("ok.htm"),
       18, "1 rendered, 0 skipped, 2 failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    HostRun run = RunHost(c.args);
    EXPECT_EQ(run.exitCode, c.code) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
}

TEST(HostProgram, WritesFileHeaderThenBothBlocks) {
  Scratch s({"page.htm"});
  struct Case { const char* option; const char* suffix; int width; int stride; };
  const Case cases[] = {{"", ".bmp", 2, 8}, {"--preview ", ".preview.bmp", 1, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.suffix);
    HostRun run = RunHost(std::string("render fake_plugin.spi ") + c.option + "--out " + s.Dir() + "\\out " +
                      s.Path("page.htm"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::string bmp = ReadFileBytes(s.Dir() + "\\out\\page.htm" + c.suffix);
    const std::size_t image = std::size_t(c.stride) * 2;
    ASSERT_EQ(bmp.size(), 14 + 40 + image);
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    std::memcpy(&file, bmp.data(), 14);
    std::memcpy(&info, bmp.data() + 14, 40);
    EXPECT_EQ(file.bfType, 0x4D42);
    EXPECT_EQ(file.bfSize, bmp.size());
    EXPECT_EQ(file.bfOffBits, 54u);
    EXPECT_EQ(info.biWidth, c.width);
    EXPECT_EQ(info.biHeight, 2);
    EXPECT_EQ(info.biBitCount, 24);
    for (std::size_t i = 0; i < image; ++i) ASSERT_EQ(static_cast<unsigned char>(bmp[54 + i]), i + 1) << i;
    DeleteFileA((s.Dir() + "\\out\\page.htm" + c.suffix).c_str());
  }
}

TEST(HostProgram, FolderRendersOnlyTheFilesThePluginClaims) {
  Scratch s({"b.htm", "a.htm", "refuse.htm"});
  HostRun run = RunHost("render fake_plugin.spi --out " + s.Dir() + " " + s.Dir());
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("2 rendered, 1 skipped, 0 failed"), std::string::npos) << run.output;
  EXPECT_LT(run.output.find("a.htm:"), run.output.find("b.htm:")) << run.output;
  EXPECT_FALSE(ReadFileBytes(s.Path("a.htm.bmp")).empty());
  EXPECT_TRUE(ReadFileBytes(s.Path("refuse.htm.bmp")).empty());
}

TEST(HostProgram, SettingsDialogGetsAVisibleTopLevelWindow) {
  HostRun run = RunHost("config fake_plugin.spi");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("ConfigurationDlg(1) returned 0\npatterns now: *.htm"), std::string::npos) << run.output;
}

}  // namespace
