// GetPicture through the real plug-in (zelnar.spi or zelnar.sph) with the browser-backed extractor registered in the prefix:
// where the page's pixels land, Japanese text, every failure (result 8, nothing left behind), what an
// untrusted page may not do, and awkward paths. Skipped when the engine is not installed.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/debug_output.h"
#include "tests/support/linux_shell.h"
#include "tests/support/plugin_module.h"
#include "tests/support/settings_key.h"
#include "wine_extractor/protocol/meeting_folder.h"

namespace {

// Starts this tree's host program, which loads the plug-in of its own bitness, on one page; the
// caller owns the process handle.
bool StartHost(const std::wstring& out, const std::wstring& page, PROCESS_INFORMATION& host) {
  const std::wstring plugin(test::kPluginFile, test::kPluginFile + sizeof test::kPluginFile - 1);
  std::wstring command = L"zelnar_host.exe render " + plugin + L" --out \"" + out + L"\" \"" + page + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &host))
    return false;
  CloseHandle(host.hThread);
  return true;
}

constexpr wchar_t kEngine[] = L"Z:\\usr\\bin\\chromium-headless-shell";
constexpr wchar_t kEngineVariable[] = L"ZELNAR_BROWSER_ENGINE";
constexpr wchar_t kDriverVariable[] = L"ZELNAR_BROWSER_DRIVER";
constexpr wchar_t kTimeLimitVariable[] = L"ZELNAR_BROWSER_TIME_LIMIT_MS";
constexpr wchar_t kMemoryLimitVariable[] = L"ZELNAR_BROWSER_MEMORY_LIMIT_MB";
constexpr wchar_t kKeepAliveVariable[] = L"ZELNAR_BROWSER_KEEP_ALIVE";
constexpr wchar_t kIdleVariable[] = L"ZELNAR_BROWSER_IDLE_MS";
constexpr wchar_t kStrictVariable[] = L"ZELNAR_BROWSER_STRICT_FOLDER";
constexpr wchar_t kRuntimeVariable[] = L"XDG_RUNTIME_DIR";
constexpr wchar_t kCacheVariable[] = L"XDG_CACHE_HOME";
// Short, so that every test with the kept-alive engine also sees it end.
constexpr wchar_t kIdleMs[] = L"1500";
constexpr int kFailed = 8;  // GetPicture's result when the extractor fails

using Rgb = std::array<uint8_t, 3>;
constexpr Rgb kWhite{255, 255, 255};

std::wstring FromUtf8(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
  return wide;
}

std::string Encode(UINT codePage, const std::wstring& text) {
  const int size = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size_t(size), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), &bytes[0], size, nullptr, nullptr);
  return bytes;
}

std::string UnixPath(const std::wstring& path) {
  using ToUnixFn = char*(CDECL*)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnixFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) throw std::runtime_error("not under Wine");
  char* unix = toUnix(path.c_str());
  std::string text = unix ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return text;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The picture GetPicture handed over, read as a person sees it.
struct Picture {
  int result = -1;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;
  std::string why;  // the trace lines: a failure's, and the page's refused requests

  // Whether a trace line tells that a request of `kind` whose address ends in `tail` was refused by `rule`.
  bool Refused(const std::string& kind, const std::string& tail, const std::string& rule) const {
    const std::string start = "zelnar browser extractor: Extract: refused " + kind + " file:///";
    const std::string end = tail + ": " + rule;
    for (size_t at = 0, next; at < why.size(); at = next + 1) {
      next = std::min(why.find('\n', at), why.size());
      const std::string line = why.substr(at, next - at);
      if (line.rfind(start, 0) == 0 && line.size() >= end.size() &&
          line.compare(line.size() - end.size(), end.size(), end) == 0)
        return true;
    }
    return false;
  }

  // Rows are stored bottom-up, each pixel as B, G, R.
  Rgb At(int x, int y) const {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    const uint8_t* pixel = &bits[size_t(height - 1 - y) * stride + size_t(x) * 3];
    return {pixel[2], pixel[1], pixel[0]};
  }
};

struct Box {
  int left, top, width, height;
  Rgb colour;
  bool Contains(int x, int y) const { return x >= left && x < left + width && y >= top && y < top + height; }
};

std::string BoxesPage(const std::vector<Box>& boxes, const std::string& extra = "") {
  std::string page =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>html, body { margin: 0; background: #fff; }"
      " div { position: absolute; }</style></head><body>\n";
  for (const Box& b : boxes) {
    page += "<div style=\"left:" + std::to_string(b.left) + "px; top:" + std::to_string(b.top) +
            "px; width:" + std::to_string(b.width) + "px; height:" + std::to_string(b.height) +
            "px; background: rgb(" + std::to_string(b.colour[0]) + "," + std::to_string(b.colour[1]) + "," +
            std::to_string(b.colour[2]) + ")\"></div>\n";
  }
  return page + extra + "</body></html>\n";
}

// Every pixel: a box's colour inside it, white elsewhere.
void ExpectBoxes(const Picture& picture, const std::vector<Box>& boxes) {
  int wrong = 0;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      Rgb expected = kWhite;
      for (const Box& b : boxes)
        if (b.Contains(x, y)) expected = b.colour;
      const Rgb seen = picture.At(x, y);
      if (seen != expected && ++wrong <= 5)
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(seen[0]) << "," << int(seen[1]) << ","
                      << int(seen[2]) << " instead of " << int(expected[0]) << "," << int(expected[1]) << ","
                      << int(expected[2]);
    }
  }
  EXPECT_EQ(wrong, 0) << "pixels that differ";
}

// Every test runs twice: with a page service that ends as soon as it has no page
// (ZELNAR_BROWSER_KEEP_ALIVE=0), which leaves nothing once the picture is drawn, and with the
// kept-alive one, which must then end by itself after its idle time, leaving nothing.
class BrowserExtractor : public testing::TestWithParam<bool> {
 protected:
  bool KeptAlive() const { return GetParam(); }

  void SetUp() override {
    if (GetFileAttributesW(kEngine) == INVALID_FILE_ATTRIBUTES)
      GTEST_SKIP() << "chromium-headless-shell is not installed (bash scripts/setup installs it)";
    test::DeleteSettingsKey();
    SetEnvironmentVariableW(kEngineVariable, nullptr);
    SetEnvironmentVariableW(kDriverVariable, nullptr);
    SetEnvironmentVariableW(kTimeLimitVariable, nullptr);
    SetEnvironmentVariableW(kMemoryLimitVariable, nullptr);
    SetEnvironmentVariableW(kStrictVariable, nullptr);
    SetEnvironmentVariableW(kKeepAliveVariable, KeptAlive() ? nullptr : L"0");
    SetEnvironmentVariableW(kIdleVariable, kIdleMs);
    wchar_t here[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, here);
    root_ = std::wstring(here) + L"\\browser test " + std::to_wstring(GetCurrentProcessId());
    temp_ = root_ + L"\\it's 一時";
    // A space, a quote and Japanese on the way to the meeting folder: the script must quote them all.
    // The runtime folder, private, and the cache's are the test's own.
    meet_ = root_ + L"\\meet it's 一時";
    pages_ = root_ + L"\\pages";
    RemoveRoot();  // a killed run's, whose process id this one got
    for (const std::wstring& folder : {root_, temp_, meet_, meet_ + L"\\run", pages_})
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    test::RunShell(meet_, "chmod 700 run");
    for (const auto& [name, saved] : {std::pair{L"TMP", savedTmp_}, {L"TEMP", savedTemp_}, {kRuntimeVariable, savedRuntime_},
                                      {kCacheVariable, savedCache_}})
      GetEnvironmentVariableW(name, saved, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", temp_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    SetEnvironmentVariableW(kRuntimeVariable, FromUtf8(UnixPath(meet_) + "/run").c_str());
    SetEnvironmentVariableW(kCacheVariable, FromUtf8(UnixPath(meet_) + "/cache").c_str());
    plugin_.Reload();
    getPicture_ = plugin_.Get<test::GetPictureFn>("GetPicture");
  }

  void TearDown() override {
    if (root_.empty()) return;
    ExpectServiceToEnd();
    SetEnvironmentVariableW(kKeepAliveVariable, nullptr);
    SetEnvironmentVariableW(kIdleVariable, nullptr);
    for (const auto& [name, saved] : {std::pair{L"TMP", savedTmp_}, {L"TEMP", savedTemp_}, {kRuntimeVariable, savedRuntime_},
                                      {kCacheVariable, savedCache_}})
      SetEnvironmentVariableW(name, saved[0] ? saved : nullptr);
    SetEnvironmentVariableW(kEngineVariable, nullptr);
    SetEnvironmentVariableW(kDriverVariable, nullptr);
    SetEnvironmentVariableW(kTimeLimitVariable, nullptr);
    SetEnvironmentVariableW(kMemoryLimitVariable, nullptr);
    SetEnvironmentVariableW(L"ZELNAR_BROWSER_PARALLEL", nullptr);
    test::DeleteSettingsKey();
    RemoveRoot();
  }

  void RemoveRoot() {
    if (GetFileAttributesW(root_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    // Names no Windows call can spell, and links, which are removed, never followed.
    test::RunShell(root_, "for f in *; do case $f in test-shell.*) ;; *) rm -rf \"./$f\" ;; esac; done");
    RemoveTree(root_);
  }

  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(path);
        else
          DeleteFileW(path.c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::wstring WritePage(const std::wstring& name, const std::string& bytes, const std::wstring& folder = L"") {
    const std::wstring dir = folder.empty() ? pages_ : folder;
    const std::wstring path = dir + L"\\" + name;
    test::WriteWholeFile(path, bytes);
    return path;
  }

  Picture Render(const std::wstring& page) {
    const std::string ansi = Encode(CP_ACP, page);
    HLOCAL header = nullptr, bits = nullptr;
    Picture picture;
    test::DebugOutput::Take();
    picture.result = getPicture_(ansi.c_str(), 0, 0, &header, &bits, nullptr, 0);
    for (const std::string& line : test::DebugOutput::Take()) {
      // Why it failed, for whoever reads a failing run.
      if (picture.result != 0) std::printf("  [result %d] %s\n", picture.result, line.c_str());
      picture.why += line + "\n";
    }
    if (picture.result == 0) {
      const auto* info = static_cast<const BITMAPINFOHEADER*>(LocalLock(header));
      picture.width = info->biWidth;
      picture.height = info->biHeight;
      EXPECT_EQ(info->biBitCount, 24);
      LocalUnlock(header);
      const auto* data = static_cast<const uint8_t*>(LocalLock(bits));
      picture.bits.assign(data, data + LocalSize(bits));
      LocalUnlock(bits);
      LocalFree(header);
      LocalFree(bits);
    }
    return picture;
  }

  void UseSize(int width, int height) {
    test::WriteDword("width", DWORD(width));
    test::WriteDword("height", DWORD(height));
    plugin_.Reload();
    getPicture_ = plugin_.Get<test::GetPictureFn>("GetPicture");
  }

  static std::vector<std::wstring> Entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    if (folder.empty()) return names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..")
          names.push_back(found.cFileName);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    return names;
  }

  // The processes marked with `marker` (the service marks the engine's environment with its folder,
  // and runs it there: the engine's helpers overwrite their environment with their titles, but keep
  // the folder); killed ones take a moment to go, so they have `waitMs`.
  std::string Marked(const std::string& marker, int waitMs = 3000) {
    const std::string command = "grep -l -s -F -e " + ShellQuote("ZELNAR_BROWSER_RUN=" + marker) +
                                " /proc/[0-9]*/environ; for p in /proc/[0-9]*; do case \"$(readlink $p/cwd)\" in " +
                                ShellQuote(marker) + "*) echo $p ;; esac; done";
    std::string alive;
    for (int waited = 0; !(alive = test::RunShell(root_, command)).empty() && waited < waitMs; waited += 100) Sleep(100);
    return alive;
  }

  // The meeting folder (the runtime folder's) and the spool in it; empty while there is none.
  std::wstring Meeting() const { return meet_ + L"\\run\\zelnar"; }
  std::wstring SpoolFolder() const {
    for (const std::wstring& name : Entries(Meeting()))
      if (name.rfind(L"page-service-", 0) == 0) return Meeting() + L"\\" + name;
    return L"";
  }

  // Nothing of the call is left, and nothing at all in the Windows temporary folder: with a service
  // that ends at once, nothing within moments; with the kept-alive one, nothing but the service (its
  // spool holds no page's file, only its own: its queue report goes at its next turn).
  void ExpectNothingLeftBehind() {
    EXPECT_TRUE(Entries(temp_).empty()) << "made in the temporary folder";
    if (!KeptAlive()) return ExpectServiceToEnd(3000);
    for (const std::wstring& name : Entries(Meeting()))
      EXPECT_TRUE(name.rfind(L"page-service-", 0) == 0 || name.rfind(L"scratch.", 0) == 0) << Encode(CP_UTF8, name);
    for (const std::wstring& name : Entries(SpoolFolder()))
      EXPECT_TRUE(name == L"service" || name == L"lock" || name == L"queue") << Encode(CP_UTF8, name) << " left";
  }

  // After its idle time the service is gone with its engine and everything in its folders.
  void ExpectServiceToEnd(int waitMs = 10000) {
    EXPECT_EQ(Marked(UnixPath(meet_) + "/", waitMs), "") << "the service or its engine outlived the idle time";
    const std::wstring meetings[] = {Meeting(), meet_ + L"\\cache\\zelnar"};
    for (int waited = 0; waited < 3000 && !(Entries(meetings[0]).empty() && Entries(meetings[1]).empty()); waited += 100)
      Sleep(100);
    for (const std::wstring& meeting : meetings) EXPECT_TRUE(Entries(meeting).empty()) << "the service's folders outlived it";
    EXPECT_TRUE(Entries(temp_).empty()) << "made in the temporary folder";
  }

  std::wstring root_, temp_, meet_, pages_;
  wchar_t savedTmp_[MAX_PATH] = {}, savedTemp_[MAX_PATH] = {}, savedRuntime_[MAX_PATH] = {}, savedCache_[MAX_PATH] = {};
  test::PluginModule plugin_;
  test::GetPictureFn getPicture_ = nullptr;
  test::DebugOutput debugOutput_;
};

TEST_P(BrowserExtractor, PutsEveryBoxAtItsPixelsBottomUpInBgrOrder) {
  struct Size { int width, height; };
  // 333 pixels leave a row padding of 1 byte, so a wrong stride shows as a slant.
  for (Size size : {Size{800, 600}, Size{333, 222}}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    UseSize(size.width, size.height);
    // Corner boxes catch a flipped or shifted picture; one channel per box catches swapped ones.
    const std::vector<Box> boxes = {
        {0, 0, 40, 30, {255, 0, 0}},
        {60, 45, 120, 70, {0, 0, 255}},
        {190, 120, 57, 33, {0, 255, 0}},
        {size.width - 40, size.height - 30, 40, 30, {250, 180, 20}},
        {size.width - 25, 0, 25, 25, {16, 64, 200}},
    };
    const Picture picture = Render(WritePage(L"boxes.html", BoxesPage(boxes)));
    ASSERT_EQ(picture.result, 0);
    ASSERT_EQ(picture.width, size.width);
    ASSERT_EQ(picture.height, size.height);
    ExpectBoxes(picture, boxes);
    ExpectNothingLeftBehind();
  }
}

TEST_P(BrowserExtractor, DrawsJapaneseTextInUtf8AndInDeclaredShiftJis) {
  // 日本語の文字 at 64 px, in a known box.
  const std::wstring text = FromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87\xE5\xAD\x97");
  const RECT area{20, 20, 20 + 6 * 64, 20 + 80};
  auto page = [&](const char* charset, UINT codePage) {
    return "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"" + std::string(charset) +
           "\"><style>html, body { margin: 0; background: #fff; }</style></head><body>"
           "<div style=\"position:absolute; left:20px; top:20px; font-size:64px; line-height:80px; color:#000;"
           " white-space:nowrap\">" +
           Encode(codePage, text) + "</div></body></html>\n";
  };
  const Picture utf8 = Render(WritePage(L"utf8.html", page("utf-8", CP_UTF8)));
  const Picture sjis = Render(WritePage(L"sjis.html", page("Shift_JIS", 932)));
  for (const Picture* picture : {&utf8, &sjis}) {
    ASSERT_EQ(picture->result, 0);
    int dark = 0, strayOutside = 0;
    for (int y = 0; y < picture->height; ++y) {
      for (int x = 0; x < picture->width; ++x) {
        const Rgb c = picture->At(x, y);
        const bool inside = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
        if (inside && c[0] + c[1] + c[2] < 200) ++dark;
        if (!inside && c != kWhite) ++strayOutside;
      }
    }
    // Six 64-pixel glyphs have thousands of dark pixels; nothing is drawn outside their line.
    EXPECT_GT(dark, 3000);
    EXPECT_EQ(strayOutside, 0);
  }
  // The same characters read from either encoding are the same picture.
  EXPECT_TRUE(utf8.bits == sjis.bits) << "the Shift_JIS page was not read as Shift_JIS";
  ExpectNothingLeftBehind();
}

TEST_P(BrowserExtractor, FailsWithResultEightAndLeavesNothingBehind) {
  const std::wstring fakes = FromUtf8(ZELNAR_SOURCE_DIR "/tests/wine_extractor/win/fake_engines/");
  const std::wstring page = WritePage(L"page.html", BoxesPage({{0, 0, 10, 10, {255, 0, 0}}}));
  struct Case {
    const char* what;
    std::wstring engine;     // empty: the real one
    std::wstring driver;     // empty: the real one
    const wchar_t* timeLimit;
    std::wstring page;
    const wchar_t* memoryLimit = nullptr;
    const char* said = nullptr;  // in the trace: the failure says why
  };
  // The page as a link to a page outside its folder.
  test::RunShell(root_, "printf '<p>outside' > outside.html && ln -s ../outside.html pages/link.html");
  const Case cases[] = {
      {"engine missing", L"/nonexistent/chromium-headless-shell", L"", nullptr, page},
      {"driver missing", L"", L"/nonexistent/zelnar-page-driver", nullptr, page},
      {"time limit hit", L"", L"", L"1", page, nullptr, "ran out of time"},
      {"page missing", L"", L"", nullptr, pages_ + L"\\absent.html"},
      {"page is a folder", L"", L"", nullptr, pages_},
      {"page is a link out of its folder", L"", L"", nullptr, pages_ + L"\\link.html"},
      // Any engine needs more than 40 MB; the time limit is long, the ceiling must end it.
      {"over the memory ceiling", L"", L"", L"600000", page, L"40", "memory ceiling"},
      // Last, each after the service before it ended: a running service keeps the engine it started with.
      {"engine never loads the page, with a helper", fakes + L"engine-never-loads", L"", L"300", page, nullptr,
       "ran out of time"},
      {"engine ends mid-page", fakes + L"engine-dies", L"", nullptr, page, nullptr, "the engine ended or closed its pipe"},
      {"broken picture", fakes + L"broken-picture", L"", nullptr, page},
      {"picture of another size", fakes + L"wrong-size", L"", nullptr, page},
      {"engine stops at once", fakes + L"engine-says-no", L"", nullptr, page, nullptr,
       "the engine ended or closed its pipe*the engine said: cannot start: no such display (fake)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.engine.empty()) ExpectServiceToEnd();
    SetEnvironmentVariableW(kEngineVariable, c.engine.empty() ? nullptr : c.engine.c_str());
    SetEnvironmentVariableW(kDriverVariable, c.driver.empty() ? nullptr : c.driver.c_str());
    SetEnvironmentVariableW(kTimeLimitVariable, c.timeLimit);
    SetEnvironmentVariableW(kMemoryLimitVariable, c.memoryLimit);
    const Picture picture = Render(c.page);
    EXPECT_EQ(picture.result, kFailed);
    // Each part of `said` (split at '*') in turn.
    size_t at = 0;
    for (std::string rest = c.said ? c.said : ""; !rest.empty() && at != std::string::npos;) {
      const std::string part = rest.substr(0, rest.find('*'));
      rest.erase(0, part.size() + (rest.size() > part.size() ? 1 : 0));
      at = picture.why.find(part, at);
      EXPECT_NE(at, std::string::npos) << "the trace lacks \"" << part << "\": " << picture.why;
    }
    ExpectNothingLeftBehind();
  }
}

// A listening socket on the loopback address: the page names it, and it must never be reached.
class Listener {
 public:
  Listener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(socket_, 8) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on the loopback address");
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    closesocket(socket_);
    WSACleanup();
  }
  int Port() const { return port_; }
  // A connection attempt waits in the backlog until accepted, so this sees every one made.
  bool WasReached() const {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval now{0, 0};
    return select(0, &readable, nullptr, nullptr, &now) > 0;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

TEST_P(BrowserExtractor, KeepsThePageOfflineAndWithoutScriptsAndDrawsTheRest) {
  Listener listener;
  const std::string port = std::to_string(listener.Port());
  // A file above the page's folder, not in it: shown as a picture, never framed.
  WritePage(L"outside.svg",
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">"
            "<rect width=\"200\" height=\"100\" fill=\"rgb(255,0,0)\"/></svg>",
            root_);
  const std::string outside = "file://" + UnixPath(root_) + "/outside.svg";
  WritePage(L"beside.svg",
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"50\" height=\"40\">"
            "<rect width=\"50\" height=\"40\" fill=\"rgb(200,0,200)\"/></svg>");
  const std::string extra =
      "<img src=\"http://127.0.0.1:" + port + "/picture.png\" style=\"position:absolute; left:300px; top:300px\">"
      "<link rel=\"stylesheet\" href=\"http://localhost:" + port + "/style.css\">"
      "<iframe src=\"http://127.0.0.1:" + port + "/frame.html\" style=\"position:absolute; left:500px;"
      " top:300px; border:0; width:10px; height:10px\"></iframe>"
      "<img src=\"beside.svg\" style=\"position:absolute; left:400px; top:100px\">"
      "<iframe src=\"" + outside + "\" style=\"position:absolute; left:0; top:300px; border:0; width:200px;"
      " height:100px\"></iframe>"
      "<img src=\"" + outside + "\" style=\"position:absolute; left:250px; top:400px\">"
      "<div id=\"scripted\" style=\"left:600px; top:100px; width:30px; height:30px;"
      " background: rgb(0,160,0)\"></div>"
      "<script>document.getElementById('scripted').style.background = 'rgb(255,0,0)';</script>";
  const std::vector<Box> boxes = {{0, 0, 100, 100, {0, 128, 255}}, {700, 500, 60, 60, {90, 60, 30}}};
  const Picture picture = Render(WritePage(L"online.html", BoxesPage(boxes, extra)));
  EXPECT_FALSE(listener.WasReached()) << "the page reached a network address";
  ASSERT_EQ(picture.result, 0);
  for (const Box& b : boxes) EXPECT_EQ(picture.At(b.left + 5, b.top + 5), b.colour);
  EXPECT_EQ(picture.At(420, 120), (Rgb{200, 0, 200})) << "the picture from the page's folder is missing";
  EXPECT_EQ(picture.At(615, 115), (Rgb{0, 160, 0})) << "the page's script ran";
  EXPECT_NE(picture.At(50, 350), (Rgb{255, 0, 0})) << "a frame showed a file outside the page's folder";
  EXPECT_EQ(picture.At(300, 450), (Rgb{255, 0, 0})) << "a picture from above the page's folder is missing";
  ExpectNothingLeftBehind();
}

TEST_P(BrowserExtractor, RendersPagesWhosePathsHaveSpacesAndJapanese) {
  ASSERT_EQ(GetACP(), 932u) << "run with LANG=ja_JP.UTF-8: the paths reach the plug-in in code page 932";
  // 日本語 フォルダー and ページ.html
  const std::wstring japaneseFolder =
      pages_ + L"\\" + FromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80\xE3\x83\xBC");
  const std::wstring spaceFolder = pages_ + L"\\with  two spaces";
  struct Case {
    std::wstring folder, name;
  };
  const Case cases[] = {
      {spaceFolder, L"page one & two.html"},
      {japaneseFolder, FromUtf8("\xE3\x83\x9A\xE3\x83\xBC\xE3\x82\xB8.html")},
      {japaneseFolder, L"100% #1.htm"},
  };
  for (const std::wstring& folder : {spaceFolder, japaneseFolder}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  // Names Linux allows and Windows cannot spell: a host reaches them by the short names Wine gives.
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (const char* name : {"back\\slash", "what? \"quoted\" 'single' #1 100%"}) {
    test::RunShell(pages_, "mkdir " + ShellQuote(name));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((pages_ + L"\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::wstring shortName;
    do {
      if (Encode(CP_UTF8, found.cFileName) == name) shortName = found.cAlternateFileName;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    ASSERT_FALSE(shortName.empty()) << name;
    all.push_back({pages_ + L"\\" + shortName, L"page.html"});
  }
  for (const Case& c : all) {
    SCOPED_TRACE(Encode(CP_UTF8, c.folder + L"\\" + c.name));
    const std::vector<Box> boxes = {{30, 40, 50, 60, {10, 20, 230}}};
    const Picture picture = Render(WritePage(c.name, BoxesPage(boxes), c.folder));
    ASSERT_EQ(picture.result, 0);
    EXPECT_EQ(picture.At(55, 70), boxes[0].colour);
    EXPECT_EQ(picture.At(5, 5), kWhite);
  }
  ExpectNothingLeftBehind();
}


// Links lead where they lead, hidden names stay closed: one page asks for each as a picture and as a
// frame. Frames show only what really lies inside its folder; pictures also what lies above, unless
// the strict rule is asked for. The secret is all red.
TEST_P(BrowserExtractor, FollowsLinksToWhereTheyLeadForEachKindOfRequest) {
  auto svg = [](const char* colour) {
    return std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"60\"><rect width=\"60\""
                       " height=\"60\" fill=\"") + colour + "\"/></svg>";
  };
  const std::string root = UnixPath(root_);
  test::WriteWholeFile(root_ + L"\\secret.svg", svg("rgb(255,0,0)"));
  ASSERT_TRUE(CreateDirectoryW((root_ + L"\\outside").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((pages_ + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((pages_ + L"\\.hidden").c_str(), nullptr));
  test::WriteWholeFile(root_ + L"\\outside\\secret.svg", svg("rgb(255,0,0)"));
  test::WriteWholeFile(pages_ + L"\\sub\\inside.svg", svg("rgb(0,160,0)"));
  test::WriteWholeFile(pages_ + L"\\.hidden\\secret.svg", svg("rgb(255,0,0)"));
  test::RunShell(root_, "ln -s ../secret.svg pages/file-link.svg && ln -s ../outside pages/folder-link && "
                        "ln -s / pages/sub/root && ln -s " + ShellQuote(root + "/pages/sub/inside.svg") +
                        " outside/back.svg && ln -s ../outside/back.svg pages/chain.svg");
  struct Case {
    const char* what;
    std::string src;
    bool framed, pictured;  // shown in a frame, shown as a picture
  };
  const Case cases[] = {
      {"a link to a file outside", "file-link.svg", false, true},
      {"a link to a folder outside", "folder-link/secret.svg", false, true},
      {"a subfolder linking to /", "sub/root" + root + "/secret.svg", false, true},
      {"a hidden folder", ".hidden/secret.svg", false, false},
      {"a link chain back inside", "chain.svg", true, true},
  };
  std::string extra;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string at = "position:absolute; left:" + std::to_string(20 + 100 * i) + "px; top:";
    extra += "<img src=\"" + cases[i].src + "\" style=\"" + at + "20px\">";
    extra += "<iframe src=\"" + cases[i].src + "\" style=\"" + at + "120px; border:0; width:60px; height:60px\">"
             "</iframe>";
  }
  const std::wstring page = WritePage(L"links.html", BoxesPage({}, extra));
  for (bool strict : {false, true}) {
    SetEnvironmentVariableW(kStrictVariable, strict ? L"1" : nullptr);
    const Picture picture = Render(page);
    ASSERT_EQ(picture.result, 0);
    for (size_t i = 0; i < std::size(cases); ++i) {
      SCOPED_TRACE(std::string(cases[i].what) + (strict ? ", strict" : ""));
      const Rgb pictured = picture.At(int(50 + 100 * i), 50), framed = picture.At(int(50 + 100 * i), 150);
      const Rgb green{0, 160, 0}, red{255, 0, 0};
      EXPECT_EQ(framed, cases[i].framed ? green : kWhite);
      EXPECT_EQ(pictured, !cases[i].pictured || (strict && !cases[i].framed) ? kWhite : cases[i].framed ? green : red);
    }
  }
  ExpectNothingLeftBehind();
}

// A page in a subfolder of a documentation tree: its stylesheet, font and picture lie in ../static,
// and are used; a frame and an object aimed there show nothing of the file; a stylesheet and a
// picture in a hidden folder above are refused; a FIFO named as a stylesheet holds nothing up.
TEST_P(BrowserExtractor, StylesAPageFromAboveButFramesNothingFromThere) {
  const std::wstring sub = pages_ + L"\\sub";
  for (const wchar_t* folder : {L"\\static", L"\\.hidden"}) ASSERT_TRUE(CreateDirectoryW((pages_ + folder).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  auto rect = [](const char* colour) {
    return std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"60\"><rect width=\"60\""
                       " height=\"60\" fill=\"") + colour + "\"/></svg>";
  };
  WritePage(L"static\\picture.svg", rect("rgb(0,0,200)"));
  WritePage(L"static\\secret.svg", rect("rgb(255,0,0)"));
  WritePage(L".hidden\\secret.svg", rect("rgb(255,0,0)"));
  WritePage(L".hidden\\secret.css", "#hidden { background: rgb(255,0,0) }");
  WritePage(L"static\\style.css",
            "html, body { background: rgb(250,240,200) } #styled { background: rgb(20,120,60) }"
            " @font-face { font-family: above; src: url(font.ttf) }"
            " @font-face { font-family: nowhere; src: url(missing.ttf) }"
            " .text { position: absolute; top: 300px; font: 60px above, nowhere; }");
  test::RunShell(pages_, "cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf static/font.ttf && mkfifo static/fifo.css");
  const std::string extra =
      "<link rel=\"stylesheet\" href=\"../static/style.css\"><link rel=\"stylesheet\" href=\"../.hidden/secret.css\">"
      "<link rel=\"stylesheet\" href=\"../static/fifo.css\">"
      "<div id=\"styled\" style=\"left:0; top:0; width:50px; height:50px\"></div>"
      "<div id=\"hidden\" style=\"left:100px; top:0; width:50px; height:50px\"></div>"
      "<img src=\"../static/picture.svg\" style=\"position:absolute; left:200px; top:0\">"
      "<img src=\"../.hidden/secret.svg\" style=\"position:absolute; left:300px; top:0\">"
      "<iframe src=\"../static/secret.svg\" style=\"position:absolute; left:0; top:100px; border:0; width:60px;"
      " height:60px\"></iframe>"
      "<object data=\"../static/secret.svg\" type=\"image/svg+xml\" style=\"position:absolute; left:100px;"
      " top:100px; width:60px; height:60px\"></object>"
      "<span class=\"text\" style=\"left:0\">Wg</span><span class=\"text\" style=\"left:200px; font-family:"
      " nowhere\">Wg</span>";
  const Picture picture = Render(WritePage(L"page.html", BoxesPage({}, extra), sub));
  ASSERT_EQ(picture.result, 0);
  const Rgb paper{250, 240, 200};
  EXPECT_EQ(picture.At(500, 200), paper) << "the stylesheet from above is missing";
  EXPECT_EQ(picture.At(25, 25), (Rgb{20, 120, 60}));
  EXPECT_EQ(picture.At(125, 25), paper) << "a stylesheet from a hidden folder was used";
  EXPECT_EQ(picture.At(225, 25), (Rgb{0, 0, 200})) << "the picture from above is missing";
  EXPECT_EQ(picture.At(325, 25), paper) << "a picture from a hidden folder was drawn";
  for (int left : {0, 100}) EXPECT_NE(picture.At(left + 30, 130), (Rgb{255, 0, 0})) << "a document from above was shown";
  int differ = 0;  // the same text in the font from above and in the engine's own face
  for (int y = 300; y < 380; ++y)
    for (int x = 0; x < 150; ++x) differ += picture.At(x, y) != picture.At(x + 200, y);
  EXPECT_GT(differ, 100) << "the font from above was not used";
  // The page service names each refused request, after the picture; the missing font is no refusal.
  if (KeptAlive()) {
    EXPECT_TRUE(picture.Refused("Stylesheet", "/pages/.hidden/secret.css", "a hidden folder")) << picture.why;
    EXPECT_TRUE(picture.Refused("Stylesheet", "/pages/static/fifo.css", "not a regular file")) << picture.why;
    EXPECT_TRUE(picture.Refused("Image", "/pages/.hidden/secret.svg", "a hidden folder")) << picture.why;
    EXPECT_TRUE(picture.Refused("Document", "/pages/static/secret.svg", "a document from outside the page's folder"))
        << picture.why;
    // The frame's and the object's alike: five, and nothing else.
    EXPECT_EQ(std::count(picture.why.begin(), picture.why.end(), '\n'), 5) << picture.why;
  }
  ExpectNothingLeftBehind();
}

// A documentation tree kept under a hidden folder, as a toolchain installer keeps its own: its page in
// std/ takes a stylesheet, a font and a picture from ../static.files/, and draws exactly as the same
// tree under a visible folder, nothing refused.
TEST_P(BrowserExtractor, DrawsATreeUnderAHiddenFolderAsUnderAVisibleOne) {
  std::vector<Picture> pictures;
  for (const wchar_t* top : {L"\\docs", L"\\.docs"}) {
    const std::wstring tree = pages_ + top;
    for (const wchar_t* folder : {L"", L"\\std", L"\\static.files"})
      ASSERT_TRUE(CreateDirectoryW((tree + folder).c_str(), nullptr));
    WritePage(L"static.files\\style.css",
              "html, body { background: rgb(250,240,200) } #styled { background: rgb(20,120,60) }"
              " @font-face { font-family: tree; src: url(font.ttf) } .text { position: absolute; top: 100px;"
              " font: 60px tree }", tree);
    WritePage(L"static.files\\picture.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"60\">"
              "<rect width=\"60\" height=\"60\" fill=\"rgb(0,0,200)\"/></svg>", tree);
    test::RunShell(tree, "cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf static.files/font.ttf");
    const std::string extra =
        "<link rel=\"stylesheet\" href=\"../static.files/style.css\">"
        "<div id=\"styled\" style=\"left:0; top:0; width:50px; height:50px\"></div>"
        "<img src=\"../static.files/picture.svg\" style=\"position:absolute; left:100px; top:0\">"
        "<span class=\"text\">Wg</span>";
    pictures.push_back(Render(WritePage(L"page.html", BoxesPage({}, extra), tree + L"\\std")));
    const Picture& picture = pictures.back();
    SCOPED_TRACE(Encode(CP_UTF8, top));
    ASSERT_EQ(picture.result, 0);
    EXPECT_EQ(picture.At(500, 300), (Rgb{250, 240, 200})) << "the stylesheet is missing";
    EXPECT_EQ(picture.At(25, 25), (Rgb{20, 120, 60}));
    EXPECT_EQ(picture.At(125, 25), (Rgb{0, 0, 200})) << "the picture is missing";
    EXPECT_EQ(picture.why, "") << "requests refused";
  }
  EXPECT_TRUE(pictures[0].bits == pictures[1].bits) << "the hidden tree draws otherwise";
  ExpectNothingLeftBehind();
}

// While another process swaps the page's pictures between files and links to files the rules refuse
// (a document outside, a picture in a hidden folder), no picture shows anything of those files.
TEST_P(BrowserExtractor, DrawsNothingFromOutsideWhileLinksAreSwappedIn) {
  auto rect = [](const char* colour) {
    return std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"60\"><rect width=\"60\""
                       " height=\"60\" fill=\"") + colour + "\"/></svg>";
  };
  ASSERT_TRUE(CreateDirectoryW((root_ + L"\\.hidden").c_str(), nullptr));
  for (const wchar_t* secret : {L"\\secret.svg", L"\\.hidden\\secret.svg"}) test::WriteWholeFile(root_ + secret, rect("rgb(255,0,0)"));
  test::WriteWholeFile(root_ + L"\\green.svg", rect("rgb(0,160,0)"));
  const std::wstring page = WritePage(
      L"race.html", BoxesPage({}, "<iframe src=\"frame.svg\" style=\"position:absolute; left:0; top:0; border:0;"
                                  " width:60px; height:60px\"></iframe><img src=\"picture.svg\""
                                  " style=\"position:absolute; left:100px; top:0\">"));
  // Bounded: it stops when told, when the test's files go, or after five minutes, and says it ended.
  test::RunShell(pages_, "( end=$(($(date +%s) + 300)); while [ ! -e ../stop ] && [ -e ../green.svg ] &&"
                         " [ $(date +%s) -lt $end ]; do "
                         "cp ../green.svg f.tmp && mv f.tmp frame.svg && cp ../green.svg p.tmp && mv p.tmp picture.svg && "
                         "ln -sf ../secret.svg f.tmp && mv f.tmp frame.svg && ln -sf ../.hidden/secret.svg p.tmp && "
                         "mv p.tmp picture.svg; done; : > ../ended ) </dev/null >/dev/null 2>&1 &");
  for (int i = 0; i < 10; ++i) {
    const Picture picture = Render(page);
    ASSERT_EQ(picture.result, 0);
    for (int x : {30, 130}) EXPECT_NE(picture.At(x, 30), (Rgb{255, 0, 0})) << "page " << i << " drew the secret";
  }
  test::RunShell(root_, "touch stop; while [ ! -e ended ]; do sleep 0.05; done; rm -f stop ended", 10000);
  ExpectNothingLeftBehind();
}

// A page that navigates once loaded is drawn as it first loaded, well inside the time limit.
TEST_P(BrowserExtractor, DrawsAPageThatNavigatesAsItFirstLoaded) {
  SetEnvironmentVariableW(kTimeLimitVariable, L"8000");
  const Box first{0, 0, 200, 100, {20, 40, 220}};
  WritePage(L"other.html", BoxesPage({{0, 0, 200, 100, {250, 180, 20}}}));
  WritePage(L"back.html", BoxesPage({}, "<meta http-equiv=\"refresh\" content=\"0; url=ping.html\">"));
  struct Case {
    const char* what;
    const char* refresh;
  };
  const Case cases[] = {
      {"itself", "0"},
      {"a page of its folder", "0; url=other.html"},
      {"a refused address", "0; url=file:///etc/hostname"},
      {"a page that comes back, again and again", "0; url=back.html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string meta = "<meta http-equiv=\"refresh\" content=\"" + std::string(c.refresh) + "\">";
    const Picture picture = Render(WritePage(L"ping.html", BoxesPage({first}, meta)));
    ASSERT_EQ(picture.result, 0);
    EXPECT_EQ(picture.At(100, 50), first.colour);
  }
  ExpectNothingLeftBehind();
}

// The host is killed mid-render: the service stops drawing its page within moments, and nothing of
// the call runs on (but a kept-alive service); the next picture is drawn.
TEST_P(BrowserExtractor, LeavesNothingOfAKilledHost) {
  const std::wstring page = WritePage(L"page.html", BoxesPage({{0, 0, 10, 10, {255, 0, 0}}}));
  // A page that never finishes loading: its engine never says it has.
  const std::wstring hangs = FromUtf8(ZELNAR_SOURCE_DIR "/tests/wine_extractor/win/fake_engines/engine-never-loads");
  SetEnvironmentVariableW(kEngineVariable, hangs.c_str());
  PROCESS_INFORMATION host{};
  ASSERT_TRUE(StartHost(root_, page, host));
  // Mid-render: the page is being drawn.
  auto pageFiles = [&] {
    int files = 0;
    for (const std::wstring& name : Entries(SpoolFolder())) files += name != L"service" && name != L"lock";
    return files;
  };
  for (int i = 0; i < 200 && pageFiles() == 0; ++i) Sleep(50);
  ASSERT_GT(pageFiles(), 0) << "the host never started its render";
  Sleep(300);
  TerminateProcess(host.hProcess, 1);
  WaitForSingleObject(host.hProcess, 5000);
  CloseHandle(host.hProcess);
  for (int waited = 0; pageFiles() > 0 && waited < 3000; waited += 100) Sleep(100);
  EXPECT_EQ(pageFiles(), 0) << "the service kept drawing for a host that is gone";
  SetEnvironmentVariableW(kEngineVariable, nullptr);
  // A running service keeps the engine it started with; one that ends at once is gone with it.
  ExpectServiceToEnd(KeptAlive() ? 10000 : 3000);
  EXPECT_EQ(Render(page).result, 0);
  ExpectNothingLeftBehind();
}

// Two pages in a row: the second sees nothing of the first. Not its history (a link to the first
// page is not drawn as visited), not its cache (a picture changed on disk is read anew), not its
// folder (what the first page may load, the second, elsewhere, may not).
TEST_P(BrowserExtractor, ShowsTheNextPageNothingOfTheOneBefore) {
  const std::wstring elsewhere = root_ + L"\\elsewhere";
  ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
  auto svg = [](const char* colour) {
    return std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"60\"><rect width=\"60\""
                       " height=\"60\" fill=\"") + colour + "\"/></svg>";
  };
  WritePage(L"shared.svg", svg("rgb(255,0,0)"));
  const std::wstring first = WritePage(L"first.html", BoxesPage({}, "<img src=\"shared.svg\" style=\"position:"
                                                                    "absolute; left:0; top:0\">"));
  ASSERT_EQ(Render(first).result, 0);
  WritePage(L"shared.svg", svg("rgb(0,160,0)"));
  const std::string firstUrl = "file://" + UnixPath(pages_) + "/first.html";
  const std::wstring second = WritePage(
      L"second.html",
      BoxesPage({}, "<style>a { position:absolute; top:100px; left:0; width:60px; height:60px; display:block }"
                    " a:link { background: rgb(0,0,200) } a:visited { background: rgb(255,0,0) }</style>"
                    "<iframe src=\"../pages/shared.svg\" style=\"position:absolute; left:100px; top:0;"
                    " border:0; width:60px; height:60px\"></iframe>"
                    "<img src=\"shared.svg\" style=\"position:absolute; left:0; top:0\">"
                    "<a href=\"" + firstUrl + "\"></a>"),
      elsewhere);
  WritePage(L"shared.svg", svg("rgb(0,160,0)"), elsewhere);
  const Picture picture = Render(second);
  ASSERT_EQ(picture.result, 0);
  EXPECT_EQ(picture.At(30, 30), (Rgb{0, 160, 0})) << "a picture came from the cache";
  EXPECT_EQ(picture.At(30, 130), (Rgb{0, 0, 200})) << "the first page is in the second one's history";
  EXPECT_EQ(picture.At(130, 30), kWhite) << "the second page loaded from the first one's folder";
  // The other way round: what the second page may not load, the first then may.
  const Picture again = Render(first);
  ASSERT_EQ(again.result, 0);
  EXPECT_EQ(again.At(30, 30), (Rgb{0, 160, 0})) << "the first page lost its own picture";

  // A page gives the same pixels drawn first and after twenty others whatever they did: one linking to
  // it, one stopped by its time limit, a hostile one, one whose renderer was killed after its picture,
  // pages of other sizes and folders.
  const std::wstring reference = WritePage(
      L"reference.html", BoxesPage({{10, 10, 50, 30, {200, 30, 30}}},
                                   "<p style=\"position:absolute; top:70px; font: 16px serif\">Text, <a href=\"second.html\">"
                                   "a link</a></p><img src=\"shared.svg\" style=\"position:absolute; left:120px; top:10px\">"));
  const Picture before = Render(reference);
  ASSERT_EQ(before.result, 0) << before.why;
  std::string slow = "<!DOCTYPE html><html><body>";
  for (int i = 0; i < 150000; ++i) slow += "<div style=\"box-shadow:0 0 9px red\">" + std::to_string(i) + "</div>";
  struct Step { const char* what; std::wstring page; const wchar_t* limitMs; bool killRenderers; };
  const std::vector<Step> steps = {
      {"links to the page", WritePage(L"linking.html", BoxesPage({}, "<a href=\"reference.html\">x</a>")), nullptr, false},
      {"stopped by its time limit", WritePage(L"slow.html", slow + "</body></html>", elsewhere), L"1000", false},
      {"hostile", WritePage(L"hostile.html", "<meta http-equiv=refresh content=\"0; url=hostile.html\"><iframe src=\"file:///etc/"
                                             "passwd\"></iframe><object data=\"../pages/reference.html\"></object>"
                                             "<style>@font-face{font-family:x;src:url(/dev/zero)}body{font-family:x}</style>t",
                            elsewhere), nullptr, false},
      {"renderers killed after it", WritePage(L"killed.html", BoxesPage({{0, 0, 20, 20, {0, 0, 0}}}), elsewhere), nullptr, true}};
  for (int round = 0; round < 4; ++round) {
    for (const Step& step : steps) {
      SCOPED_TRACE(step.what);
      SetEnvironmentVariableW(kTimeLimitVariable, step.limitMs);
      Render(step.page);
      SetEnvironmentVariableW(kTimeLimitVariable, nullptr);
      // This test's renderers only: they work in its meeting folder.
      if (step.killRenderers) {
        const std::string killed = test::RunShell(
            root_, "for p in /proc/[0-9]*; do case \"$(readlink $p/cwd)\" in " + ShellQuote(UnixPath(meet_)) +
                       "/*) grep -qa -e --type=renderer $p/cmdline && kill -9 ${p#/proc/} && echo k ;; esac; done; true");
        if (KeptAlive()) EXPECT_NE(killed, "") << "no renderer of this test's service was found";
      }
    }
    UseSize(300 + 20 * round, 200);
    Render(reference);
  }
  UseSize(before.width, before.height);
  const Picture after = Render(reference);
  ASSERT_EQ(after.result, 0) << after.why;
  EXPECT_EQ(after.bits, before.bits) << "the page drawn after twenty others differs from the page drawn first";
  ExpectNothingLeftBehind();
}

// Where the extractor meets its service nobody else can enter. A second account (made here as root,
// by a user id of its own) shares the Wine temporary folder, without its sticky bit: it squats every
// name it could guess there and in /tmp, plants links, renames whatever of ours it finds there, and
// reads every command line and environment it may, while 20 pages are drawn: every picture exact,
// the page's path seen nowhere, nothing made in the temporary folder. A runtime folder that is
// unset, another account's, open to others or a link: the cache's is used, and nothing is made
// there; where the cache's way fails too, the failure names the folder. A cache folder that the second
// account's group may write fails, however she swaps the meeting folder meanwhile, and nothing is
// made in hers. A `service` file naming a process of ours that is no service (a server with
// `--serve`, even in the spool): our own is started, that process left alone. A service killed
// outright, every process of it: the next one leaves the meeting folder empty. A spool moved aside
// under a live service: it ends. Without drive Z:, it draws.
TEST_P(BrowserExtractor, MeetsItsServiceWhereNoOneElseCanEnter) {
  const std::vector<Box> boxes = {{0, 0, 50, 50, {20, 90, 200}}};
  ASSERT_TRUE(CreateDirectoryW((pages_ + L"\\secret-word-7q").c_str(), nullptr));
  const std::wstring page = WritePage(L"page.html", BoxesPage(boxes), pages_ + L"\\secret-word-7q");
  const bool root = test::RunShell(root_, "id -u") == "0\n";
  const std::string driver = UnixPath(root_.substr(0, root_.rfind(L'\\'))) + "/zelnar-page-driver";
  const std::string spool = wine_extractor::SpoolName(driver);
  SetEnvironmentVariableW(kDriverVariable, FromUtf8(driver).c_str());
  // The second account, a user id of its own. It looks for the page's path with a pattern from a
  // file, so that its own command line does not hold it; what it saw and did goes to @S@.
  const std::string u = std::to_string(40000 + GetCurrentProcessId() % 20000);
  const std::string attack =
      "chmod 777 @T@ && printf 'secret-word-%s' 7q > ../pattern && chmod 644 ../pattern && rm -f @S@* ../stop && "
      "setpriv --reuid=" + u + " --regid=" + u + " --clear-groups sh -c 'cd \"$1\" && for n in zelnar "
      "zelnar-page-service zelnar-page-service-2 zelnar-page-service-8 scratch.0 run cache; do mkdir -m 777 $n; done; "
      "ln -s /etc etc; mkdir -m 777 /tmp/zelnar /tmp/zelnar-page-service; : > \"$3.planted\"; "
      "end=$(($(date +%s) + 180)); "
      "while [ ! -e \"$2/stop\" ] && [ $(date +%s) -lt $end ]; do cat /proc/[0-9]*/cmdline /proc/[0-9]*/environ "
      "2>/dev/null | grep -qaFf \"$2/pattern\" && echo read >> \"$3\"; for e in *; do [ -L \"$e\" ] || [ -O \"$e\" ] || "
      "{ mv \"$e\" \"$e.x\" && echo moved $e >> \"$3\"; }; done; done; : > \"$3.ended\"' attacker @T@ .. @S@ "
      ">/dev/null 2>&1 & while [ ! -e @S@.planted ]; do sleep 0.1; done";
  const std::string server = "mkdir -m 700 run/zelnar run/zelnar/" + spool + " && (cd run/zelnar/" + spool +
                             " && { perl -e 'sleep 60' server --serve & } && echo $! > ../../../server && "
                             "echo \"$! $(cut -d' ' -f22 /proc/$!/stat)\" > service)";
  // A cache folder that the second account's group may write: it swaps its own open folder in and
  // out as the meeting folder while the service starts.
  const std::string swap =
      "chgrp " + u + " cache && chmod 770 cache && rm -f @S@* && setpriv --reuid=" + u + " --regid=" + u +
      " --clear-groups sh -c 'cd cache && mkdir -m 777 her && : > \"$1.planted\"; while [ ! -e \"$1.stop\" ]; do "
      "[ -e zelnar ] && [ ! -O zelnar ] && mv zelnar mine; [ -e zelnar ] || mv her zelnar; sleep 0.005; "
      "[ -O zelnar ] && mv zelnar her; [ -e mine ] && mv mine zelnar; done; : > \"$1.ended\"' swapper @S@ "
      ">/dev/null 2>&1 & while [ ! -e @S@.planted ]; do sleep 0.1; done";
  // Every process of the service, and the process groups they lead, killed outright.
  const std::string killAll =
      "for p in $(grep -l -s -F -e " + ShellQuote("ZELNAR_BROWSER_RUN=" + UnixPath(meet_)) + " /proc/[0-9]*/environ | "
      "cut -d/ -f3) $(for p in /proc/[0-9]*; do case \"$(readlink $p/cwd)\" in " + ShellQuote(UnixPath(meet_)) +
      "/*) echo ${p#/proc/} ;; esac; done); do kill -9 -$(cut -d' ' -f5 /proc/$p/stat) $p; done 2>/dev/null; true";
  struct Case {
    const char* what; bool runtime; std::string make; bool asRoot; int pages; const char* used;
    const char* why = nullptr;  // where no picture is drawn, what the failure says
    std::string during = "";    // done to a live service while it draws a page that never loads
  };
  const Case cases[] = {
      {"a second account shares the temporary folder", true, attack, true, 20, "run"},
      {"the runtime folder unset", false, "", false, 1, "cache"},
      {"the runtime folder another account's", true, "chown " + u + " run", true, 1, "cache"},
      {"the runtime folder open to others", true, "chmod 755 run", false, 1, "cache"},
      {"the runtime folder a link", true, "rmdir run && ln -s docs run", false, 1, "cache"},
      {"a service file naming a server of ours", true, server, false, 1, "run"},
      {"the cache's way through a link, too", false, "rmdir cache && ln -s docs cache", false, 1, nullptr, "/cache is a link"},
      {"the cache's folder a second account's group may write, swapped during the start", false, swap, true, 1, nullptr,
       "writable by no one else, its group included"},
      {"every process of a service killed, then the next one's idle end", true, "", false, 1, "run", nullptr, killAll},
      {"the spool moved aside under a live service", true, "", false, 1, "run", nullptr,
       "mv run/zelnar/page-service-* run/zelnar/moved"},
  };
  const std::string t = ShellQuote(UnixPath(temp_)), seen = "/tmp/zelnar-seen-" + u;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.asRoot && !root) {
      std::printf("  skipped \"%s\": only root can act as another account here\n", c.what);
      continue;
    }
    std::string make = c.make;
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"@T@", t}, {"@S@", seen}})
      for (size_t at; (at = make.find(name)) != std::string::npos;) make.replace(at, name.size(), value);
    test::RunShell(meet_, "rm -rf run cache docs server && mkdir -m 700 run cache && mkdir -m 755 docs && "
                          "echo keep > docs/file" + (make.empty() ? "" : " && " + make));
    SetEnvironmentVariableW(kRuntimeVariable, c.runtime ? FromUtf8(UnixPath(meet_) + "/run").c_str() : nullptr);
    // Where nothing of ours belongs: the planted folders (but the meeting folder where it is used),
    // and the temporary folder, listed from outside it.
    const std::string others = "LC_ALL=C ls -lA --time-style=+ docs run/ | grep -v '^total\\| zelnar$'";
    const std::string temp = "LC_ALL=C ls -lA --time-style=+ " + t;
    const std::string before = test::RunShell(meet_, others), listed = test::RunShell(root_, temp);
    if (!c.during.empty()) {
      SetEnvironmentVariableW(kTimeLimitVariable, L"8000");
      SetEnvironmentVariableW(kEngineVariable, FromUtf8(ZELNAR_SOURCE_DIR "/tests/wine_extractor/win/fake_engines/engine-never-loads").c_str());
      int result = -1;
      std::thread call([&] { result = Render(page).result; });
      const std::string taken = "ls run/zelnar/page-service-*/ 2>/dev/null | grep -c '\\.run$'";
      for (int i = 0; i < 200 && test::RunShell(meet_, taken) == "0\n"; ++i) Sleep(50);
      test::RunShell(meet_, c.during);
      call.join();
      SetEnvironmentVariableW(kEngineVariable, nullptr);
      SetEnvironmentVariableW(kTimeLimitVariable, nullptr);
      EXPECT_EQ(result, kFailed) << "the picture in flight";
      EXPECT_EQ(Marked(UnixPath(meet_) + "/"), "") << "the service or its engine outlived its folder";
      test::RunShell(meet_, "rm -rf run/zelnar/moved");  // the user's own
    }
    for (int i = 0; i < c.pages; ++i) {
      const Picture picture = Render(page);
      if (!c.used) {
        EXPECT_EQ(picture.result, kFailed);
        EXPECT_NE(picture.why.find(c.why), std::string::npos) << picture.why;
        continue;
      }
      ASSERT_EQ(picture.result, 0) << picture.why;
      ASSERT_EQ(picture.At(25, 25), boxes[0].colour) << "not our picture";
    }
    if (c.used) {
      EXPECT_EQ(test::RunShell(meet_, "ls -d */zelnar"), std::string(c.used) + "/zelnar\n") << "where it met its service";
    }
    if (c.make == server) {
      EXPECT_EQ(test::RunShell(meet_, "kill $(cat server) && echo alive"), "alive\n") << "the server was ended";
    }
    EXPECT_EQ(test::RunShell(meet_, others), before) << "made or changed where nothing of ours belongs";
    EXPECT_EQ(test::RunShell(root_, temp), listed) << "made or changed in the temporary folder";
    if (c.make == swap) {
      test::RunShell(meet_, "touch " + seen + ".stop; while [ ! -e " + seen + ".ended ]; do sleep 0.1; done", 20000);
      EXPECT_EQ(test::RunShell(meet_, "ls -A cache/her"), "") << "made in the other account's folder";
      test::RunShell(meet_, "rm -f " + seen + "*");
    }
    if (c.make == attack) {
      test::RunShell(root_, "touch stop; while [ ! -e " + seen + ".ended ]; do sleep 0.1; done", 20000);
      EXPECT_EQ(test::RunShell(root_, "cat " + seen + " 2>/dev/null"), "") << "the other account saw or moved";
      test::RunShell(root_, "rm -rf " + seen + "* pattern stop /tmp/zelnar /tmp/zelnar-page-service; chmod 755 " + t +
                                "; (cd " + t + " && rm -rf ./* ./.??*) 2>/dev/null");
    }
    ExpectServiceToEnd();
  }
  SetEnvironmentVariableW(kRuntimeVariable, FromUtf8(UnixPath(meet_) + "/run").c_str());
  test::RunShell(meet_, "rm -rf run cache docs server && mkdir -m 700 run");

  // A prefix whose drive Z: was removed: the page and every folder reached by Wine's \\?\unix\ form.
  auto unixForm = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return L"\\\\?\\unix" + FromUtf8(path);
  };
  const std::wstring here = unixForm(UnixPath(root_)), unixPage = unixForm(UnixPath(page));
  // Wine looks at the drives again once a second.
  struct DriveZ {
    std::wstring here;
    explicit DriveZ(std::wstring folder) : here(std::move(folder)) {
      test::RunShell(here, "mv \"$WINEPREFIX/dosdevices/z:\" \"$WINEPREFIX/dosdevices/z:.away\"");
      Sleep(1100);
    }
    ~DriveZ() {
      try {
        test::RunShell(here, "mv \"$WINEPREFIX/dosdevices/z:.away\" \"$WINEPREFIX/dosdevices/z:\"");
      } catch (const std::exception&) {
        ADD_FAILURE() << "drive Z: could not be put back";
      }
      Sleep(1100);
    }
  };
  {
    const DriveZ away(here);
    ASSERT_EQ(GetFileAttributesW(page.c_str()), INVALID_FILE_ATTRIBUTES) << "drive Z: is still there";
    const Picture picture = Render(unixPage);
    ASSERT_EQ(picture.result, 0) << picture.why;
    EXPECT_EQ(picture.At(25, 25), boxes[0].colour);
  }
  ExpectNothingLeftBehind();
}

INSTANTIATE_TEST_SUITE_P(, BrowserExtractor, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "KeptAlive" : "OneShot"; });

// What the kept-alive engine must survive: its engine killed between two pictures, the service
// killed mid-picture (only that picture may fail), eight hosts and three threads at once.
class PageService : public BrowserExtractor {
 protected:
  // The spool, as a shell word that finds it once it is there.
  std::string Spool() { return ShellQuote(UnixPath(Meeting())) + "/page-service-*"; }
  // The processes of the service's engine (the service itself is the page driver).
  std::string EngineProcesses() {
    return "for p in /proc/[0-9]*; do grep -qsF " + ShellQuote("ZELNAR_BROWSER_RUN=" + UnixPath(Meeting())) +
           " $p/environ && [ \"$(cat $p/comm)\" != zelnar-page-dri ] && echo ${p#/proc/}; done";
  }
};

TEST_P(PageService, ReplacesAnEngineKilledBetweenPictures) {
  const std::vector<Box> boxes = {{10, 10, 50, 50, {0, 90, 200}}};
  const std::wstring page = WritePage(L"page.html", BoxesPage(boxes));
  ASSERT_EQ(Render(page).result, 0);
  ASSERT_NE(test::RunShell(root_, EngineProcesses()), "");
  test::RunShell(root_, "kill -9 $(" + EngineProcesses() + ")");
  const Picture picture = Render(page);
  ASSERT_EQ(picture.result, 0);
  ExpectBoxes(picture, boxes);
  ExpectNothingLeftBehind();
}

TEST_P(PageService, ReplacesAServiceKilledMidPicture) {
  const std::vector<Box> boxes = {{10, 10, 50, 50, {0, 90, 200}}};
  const std::wstring page = WritePage(L"page.html", BoxesPage(boxes));
  // A page that never finishes loading: its engine never says it has.
  SetEnvironmentVariableW(kEngineVariable, FromUtf8(ZELNAR_SOURCE_DIR "/tests/wine_extractor/win/fake_engines/engine-never-loads").c_str());
  int result = -1;
  std::thread call([&] { result = Render(page).result; });
  const std::string taken = "ls " + Spool() + " 2>/dev/null | grep -c '\\.run$'";
  for (int i = 0; i < 200 && test::RunShell(root_, taken) == "0\n"; ++i) Sleep(50);
  test::RunShell(root_, "kill -9 $(cut -d' ' -f1 " + Spool() + "/service)");
  call.join();
  EXPECT_EQ(result, kFailed) << "the picture in flight";
  SetEnvironmentVariableW(kEngineVariable, nullptr);
  EXPECT_EQ(Marked(UnixPath(Meeting()) + "/"), "") << "the killed service's engine ran on";
  const Picture picture = Render(page);
  ASSERT_EQ(picture.result, 0);
  ExpectBoxes(picture, boxes);
  ExpectNothingLeftBehind();
}

// A service stopped (kill -STOP) mid-picture: that picture fails at once, the next one is drawn by a
// new service, each within the time limit and 2 s; the stopped one is ended.
TEST_P(PageService, ReplacesAFrozenService) {
  SetEnvironmentVariableW(kTimeLimitVariable, L"8000");
  const std::vector<Box> boxes = {{10, 10, 50, 50, {0, 90, 200}}};
  const std::wstring page = WritePage(L"page.html", BoxesPage(boxes));
  // A page that never finishes loading, whatever the machine's speed: its engine never says it has.
  SetEnvironmentVariableW(kEngineVariable, FromUtf8(ZELNAR_SOURCE_DIR "/tests/wine_extractor/win/fake_engines/engine-never-loads").c_str());
  int result = -1;
  ULONGLONG failedAfter = 0;
  std::thread call([&] {
    const ULONGLONG start = GetTickCount64();
    result = Render(page).result;
    failedAfter = GetTickCount64() - start;
  });
  const std::string taken = "ls " + Spool() + " 2>/dev/null | grep -c '\\.run$'";
  for (int i = 0; i < 200 && test::RunShell(root_, taken) == "0\n"; ++i) Sleep(50);
  test::RunShell(root_, "kill -STOP $(cut -d' ' -f1 " + Spool() + "/service)");
  call.join();
  SetEnvironmentVariableW(kEngineVariable, nullptr);
  EXPECT_EQ(result, kFailed) << "the picture in flight";
  EXPECT_LT(failedAfter, 8000u + 2000u);
  const ULONGLONG start = GetTickCount64();
  const Picture picture = Render(page);
  EXPECT_LT(GetTickCount64() - start, 8000u + 2000u);
  ASSERT_EQ(picture.result, 0) << picture.why;
  ExpectBoxes(picture, boxes);
  ExpectNothingLeftBehind();
}

// Pages of four hosts waiting behind slow pages of this one, longer than their time limit, or while
// their service is killed or stopped: every waiting page is drawn, by that service or by the next
// one; only a slow page fails, a stopped service found at once (not by the page's limit).
TEST_P(PageService, DrawsEveryWaitingPageWhateverHoldsTheQueue) {
  // One page at a time: every host's page waits while the slow one is drawn.
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_PARALLEL", L"1");
  SetEnvironmentVariableW(kEngineVariable, FromUtf8(ZELNAR_SOURCE_DIR "/tests/wine_extractor/win/fake_engines/engine-white").c_str());
  const std::wstring slowPage = WritePage(L"slow.html", "<p>never loads");
  for (int h = 0; h < 4; ++h) {
    const std::wstring folder = pages_ + L"\\host" + std::to_wstring(h);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (int p = 0; p < 5; ++p) WritePage(L"h" + std::to_wstring(h) + L"p" + std::to_wstring(p) + L".html", "<p>page", folder);
  }
  struct Case { const char* what; const wchar_t* limitMs; int slow; const char* signal; const char* slowFails; };
  const Case cases[] = {
      {"behind slow pages past their limit", L"3000", 3, nullptr, "the page took longer than its time limit"},
      {"the service killed", L"20000", 1, "KILL", "the page service ended or froze during the picture"},
      {"the service stopped", L"20000", 1, "STOP", "the page service ended or froze during the picture"},
  };
  const std::string held = "ls " + Spool() + " 2>/dev/null | grep -c '\\.job$\\|\\.run$'";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetEnvironmentVariableW(kTimeLimitVariable, c.limitMs);
    ASSERT_EQ(Render(WritePage(L"first.html", "<p>first")).result, 0);  // the service runs
    std::vector<Picture> slow(size_t(c.slow));
    std::vector<std::thread> threads;
    // Each in turn, so that all are in the queue before the hosts' pages.
    for (int i = 0; i < c.slow; ++i) {
      threads.emplace_back([&, i] { slow[size_t(i)] = Render(slowPage); });
      for (int waited = 0; test::RunShell(root_, held) != std::to_string(i + 1) + "\n" && waited < 5000; waited += 50) Sleep(50);
    }
    std::vector<PROCESS_INFORMATION> hosts(4);
    for (int h = 0; h < 4; ++h) ASSERT_TRUE(StartHost(root_, pages_ + L"\\host" + std::to_wstring(h), hosts[size_t(h)]));
    if (c.signal) {
      for (int waited = 0; test::RunShell(root_, held) != std::to_string(c.slow + 4) + "\n" && waited < 10000; waited += 50) Sleep(50);
      test::RunShell(root_, std::string("kill -") + c.signal + " $(cut -d' ' -f1 " + Spool() + "/service)");
    }
    for (std::thread& thread : threads) thread.join();
    for (const Picture& picture : slow) {
      EXPECT_EQ(picture.result, kFailed);
      EXPECT_NE(picture.why.find(c.slowFails), std::string::npos) << picture.why;
    }
    for (const PROCESS_INFORMATION& host : hosts) {
      EXPECT_EQ(WaitForSingleObject(host.hProcess, 120000), WAIT_OBJECT_0);
      CloseHandle(host.hProcess);
    }
    int drawn = 0;
    for (const std::wstring& name : Entries(root_))
      if (name.size() > 4 && name.compare(name.size() - 4, 4, L".bmp") == 0 && DeleteFileW((root_ + L"\\" + name).c_str())) ++drawn;
    EXPECT_EQ(drawn, 20) << "pictures drawn of the hosts' 20";
  }
  SetEnvironmentVariableW(kEngineVariable, nullptr);
  SetEnvironmentVariableW(kTimeLimitVariable, nullptr);
  ExpectNothingLeftBehind();
}

// Pages that come as the service idles out are drawn by it or by the next one, never lost.
TEST_P(PageService, DrawsEveryPageThatComesAsTheServiceIdlesOut) {
  const std::vector<Box> boxes = {{10, 10, 50, 50, {0, 90, 200}}};
  const std::wstring page = WritePage(L"page.html", BoxesPage(boxes));
  for (const wchar_t* idle : {L"1", L"20", L"100"}) {
    SetEnvironmentVariableW(kIdleVariable, idle);
    int failed = 0;
    for (int i = 0; i < 30; ++i) {
      const Picture picture = Render(page);
      if (picture.result != 0 || picture.At(30, 30) != boxes[0].colour) ++failed;
    }
    EXPECT_EQ(failed, 0) << "pages lost with an idle time of " << Encode(CP_UTF8, idle) << " ms";
  }
  SetEnvironmentVariableW(kIdleVariable, kIdleMs);
  ExpectNothingLeftBehind();
}

TEST_P(PageService, DrawsEveryPictureRightForEightHostsAndThreeThreadsAtOnce) {
  auto colour = [](int i) { return Rgb{uint8_t(30 * i), uint8_t(250 - 20 * i), uint8_t(90 + 15 * i)}; };
  std::vector<PROCESS_INFORMATION> hosts;
  for (int i = 0; i < 8; ++i) {
    const std::wstring page = WritePage(L"host" + std::to_wstring(i) + L".html", BoxesPage({{0, 0, 800, 600, colour(i)}}));
    PROCESS_INFORMATION host{};
    ASSERT_TRUE(StartHost(root_, page, host));
    hosts.push_back(host);
  }
  std::vector<Picture> pictures(3);
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    const std::wstring page =
        WritePage(L"thread" + std::to_wstring(i) + L".html", BoxesPage({{0, 0, 800, 600, colour(8 + i)}}));
    threads.emplace_back([&, i, page] { pictures[i] = Render(page); });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(pictures[i].result, 0) << "thread " << i;
    ExpectBoxes(pictures[i], {{0, 0, 800, 600, colour(8 + i)}});
  }
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE("host " + std::to_string(i));
    EXPECT_EQ(WaitForSingleObject(hosts[i].hProcess, 120000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(hosts[i].hProcess, &code);
    CloseHandle(hosts[i].hProcess);
    EXPECT_EQ(code, 0u);
    // The host program writes a 24-bit bottom-up BMP: its middle pixel, B, G, R.
    const std::string bmp = test::ReadWholeFile(root_ + L"\\host" + std::to_wstring(i) + L".html.bmp");
    ASSERT_GT(bmp.size(), 54u);
    const size_t at = 54 + 300 * 2400 + 400 * 3;
    EXPECT_EQ((Rgb{uint8_t(bmp[at + 2]), uint8_t(bmp[at + 1]), uint8_t(bmp[at])}), colour(i));
  }
  ExpectNothingLeftBehind();
}

// Pages drawn side by side: beside another host's page that takes long, grows over the memory
// ceiling or whose host is killed mid-page, this host's page is drawn at once and right, and only
// the other one fails.
TEST_P(PageService, DrawsAPageBesideAnotherHostsWhateverBecomesOfThatOne) {
  std::string slow = "<!DOCTYPE html><html><body>";
  for (int i = 0; i < 150000; ++i) slow += "<div style=\"box-shadow:0 0 9px red\">" + std::to_string(i) + "</div>";
  const std::wstring big = WritePage(L"big.html", slow + "</body></html>");
  const std::vector<Box> boxes = {{0, 0, 800, 600, {40, 170, 90}}, {100, 100, 30, 30, {200, 10, 60}}};
  const std::wstring page = WritePage(L"page.html", BoxesPage(boxes));
  struct Case { const char* what; const wchar_t* memoryLimit; bool kill; DWORD exit; };
  const Case cases[] = {
      {"a page that takes long", nullptr, false, 0},
      // The engine holds some 600 MB with the pages beside each other; the slow page's renderer
      // alone grows past 400 MB.
      {"a page over the memory ceiling", L"900", false, 1},
      {"a host killed mid-page", nullptr, true, 1},
  };
  const std::string taken = "ls " + Spool() + " 2>/dev/null | grep -c '\\.run$'";
  // One page at a time unless asked for more.
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_PARALLEL", L"2");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetEnvironmentVariableW(kMemoryLimitVariable, c.memoryLimit);
    ASSERT_EQ(Render(page).result, 0);  // the service runs, and the page is drawn beside the other
    PROCESS_INFORMATION host{};
    ASSERT_TRUE(StartHost(root_, big, host));
    for (int i = 0; i < 200 && test::RunShell(root_, taken) == "0\n"; ++i) Sleep(50);
    const Picture picture = Render(page);
    EXPECT_EQ(WaitForSingleObject(host.hProcess, 0), WAIT_TIMEOUT) << "this host's page waited for the other";
    if (c.kill) TerminateProcess(host.hProcess, 1);
    ASSERT_EQ(picture.result, 0) << picture.why;
    ExpectBoxes(picture, boxes);
    EXPECT_EQ(WaitForSingleObject(host.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(host.hProcess, &code);
    CloseHandle(host.hProcess);
    EXPECT_EQ(code != 0, c.exit != 0) << "the other host's exit code " << code;
    for (int waited = 0; test::RunShell(root_, taken) != "0\n" && waited < 3000; waited += 100) Sleep(100);
    ExpectNothingLeftBehind();
  }
}

// Pages drawn at once each under their own rules: a burst of three pages of one folder, each framing a
// document from outside it, alone and beside a page of another folder that takes the engine long.
TEST_P(PageService, DrawsPagesSideBySideEachUnderItsOwnRules) {
  SetEnvironmentVariableW(L"ZELNAR_BROWSER_PARALLEL", L"4");
  const std::wstring secret = pages_ + L"\\secret", folder = pages_ + L"\\b", other = pages_ + L"\\slow";
  for (const std::wstring& dir : {secret, folder, other}) ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  WritePage(L"doc.html", BoxesPage({{0, 0, 800, 600, {255, 0, 0}}}), secret);
  std::string slow = "<!DOCTYPE html><html><body>";
  for (int i = 0; i < 150000; ++i) slow += "<div style=\"box-shadow:0 0 9px red\">" + std::to_string(i) + "</div>";
  const std::wstring big = WritePage(L"big.html", slow + "</body></html>", other);
  const std::vector<Box> boxes = {{0, 0, 800, 600, {40, 170, 90}}};
  const std::string frame = "<iframe src=\"../secret/doc.html\" style=\"position:absolute; left:100px; top:100px;"
                            " border:0; width:60px; height:60px\"></iframe>";
  for (const bool beside : {false, true}) {
    SCOPED_TRACE(beside ? "beside a slow page" : "alone");
    PROCESS_INFORMATION host{};
    if (beside) {
      ASSERT_TRUE(StartHost(root_, big, host));
    }
    std::vector<Picture> pictures(3);
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
      const std::wstring page = WritePage(L"frame" + std::to_wstring(i) + L".html", BoxesPage(boxes, frame), folder);
      threads.emplace_back([&, i, page] { pictures[i] = Render(page); });
    }
    for (std::thread& thread : threads) thread.join();
    for (const Picture& picture : pictures) {
      ASSERT_EQ(picture.result, 0) << picture.why;
      EXPECT_EQ(picture.At(400, 300), (Rgb{40, 170, 90}));
      EXPECT_NE(picture.At(130, 130), (Rgb{255, 0, 0})) << "a document from outside the page's folder was shown";
    }
    if (beside) {
      EXPECT_EQ(WaitForSingleObject(host.hProcess, 120000), WAIT_OBJECT_0);
      CloseHandle(host.hProcess);
    }
  }
  ExpectNothingLeftBehind();
}

INSTANTIATE_TEST_SUITE_P(, PageService, testing::Values(true),
                         [](const testing::TestParamInfo<bool>&) { return "KeptAlive"; });

}  // namespace
