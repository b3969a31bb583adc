// The render script and frame page the browser extractor writes, run for real by /bin/sh with fake
// engines: quoting of awkward folder names, the engine's arguments, the status, the clean-up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/browser_extractor/engine_job.h"
#include "tools/browser_extractor/engine_settings.h"

namespace {

using browser::EngineJob;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string Shell(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  size_t read;
  while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
  pclose(pipe);
  return output;
}

TEST(ShellQuote, GivesBackEveryStringAsOneWord) {
  for (const char* text : {"", "plain", "two  spaces", "it's", "''", "$HOME `id` \"q\" \\ *", "\xE6\x97\xA5 \xE6\x9C\xAC"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Shell("printf '%s|' " + browser::ShellQuote(text)), std::string(text) + "|");
  }
}

TEST(FileUrl, EncodesEverythingButUnreservedBytesAndSlashes) {
  struct Case { const char* path; const char* url; };
  const Case cases[] = {
      {"/tmp/a.html", "file:///tmp/a.html"},
      {"/a b/c'd\"e", "file:///a%20b/c%27d%22e"},
      {"/100%#?&<>.htm", "file:///100%25%23%3F%26%3C%3E.htm"},
      {"/\xE6\x97\xA5/~_-.x", "file:///%E6%97%A5/~_-.x"},
  };
  for (const Case& c : cases) EXPECT_EQ(browser::FileUrl(c.path), c.url);
}

TEST(TimeLimit, ReadsMillisecondsAndFallsBackOnAnythingElse) {
  struct Case { const char* text; uint32_t expected; };
  const Case cases[] = {{"1", 1},       {"20000", 20000}, {"600000", 600000}, {"600001", 7}, {"0", 7},
                        {"", 7},        {"-5", 7},        {" 5", 7},          {"5s", 7},    {"99999999", 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(browser::ParseTimeLimit(c.text, 7), c.expected);
  }
  EXPECT_EQ(browser::TimeoutSeconds(1), "0.001");
  EXPECT_EQ(browser::TimeoutSeconds(20000), "20.000");
}

class RunScript : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/browser-job-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
    // Everything a folder name may hold that sh would otherwise read.
    work_ = base_ + "/it's a $HOME `x` \xE6\x97\xA5";
    ASSERT_EQ(mkdir(work_.c_str(), 0700), 0);
  }
  void TearDown() override { Shell("rm -rf " + browser::ShellQuote(base_)); }

  // Writes the script for `engine` and runs it in the call's folder, as the extractor does.
  std::string RunWith(const std::string& engine, uint32_t limitMs) {
    EngineJob job;
    job.engine = engine;
    job.workDir = work_;
    job.page = "/pages/p q.html";
    job.width = 321;
    job.height = 123;
    job.timeLimitMs = limitMs;
    std::ofstream(work_ + "/" + browser::kScriptName, std::ios::binary) << browser::RunScript(job);
    Shell("cd " + browser::ShellQuote(work_) + " && LC_ALL=ja_JP.UTF-8 /bin/sh " + browser::kScriptName + " 2>/dev/null");
    return Slurp(work_ + "/" + browser::kStatusName);
  }

  std::string WriteEngine(const std::string& name, const std::string& body) {
    const std::string path = base_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0700);
    return path;
  }

  std::string base_, work_;
};

TEST_F(RunScript, HandsTheEngineItsArgumentsInAPrivateEnvironment) {
  const std::string engine = WriteEngine(
      "engine", "for a; do printf '%s\\n' \"$a\"; done > \"$ZELNAR_BROWSER_RUN/../args\"\n"
      "printf '%s\\n' \"$HOME\" \"$TMPDIR\" \"$XDG_CONFIG_HOME\" \"$LANG\" \"${LC_ALL-unset}\" > \"$ZELNAR_BROWSER_RUN/../env\"\n"
      "touch \"$HOME/left-in-home\" \"$TMPDIR/left-in-tmp\"");
  EXPECT_EQ(RunWith(engine, 5000), "0\n");
  const std::string args = Slurp(base_ + "/args");
  for (const std::string& expected :
       {std::string("--headless\n"), std::string("--window-size=321,123\n"), std::string("--hide-scrollbars\n"), std::string("--force-device-scale-factor=1\n"),
"--screenshot=" + work_ + "/page.png\n",
        std::string("--host-resolver-rules=MAP * ~NOTFOUND\n"), std::string("--proxy-bypass-list=<-loopback>\n"),
        browser::FileUrl(work_ + "/frame.html") + "\n"}) {
    EXPECT_NE(args.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(args.find("--user-data-dir"), std::string::npos) << "a profile on disk";
  EXPECT_EQ(args.find("--no-sandbox") != std::string::npos, getuid() == 0) << "the sandbox is dropped only as root";
  EXPECT_EQ(Slurp(base_ + "/env"),
            work_ + "/scratch/home\n" + work_ + "/scratch/tmp\n" + work_ + "/scratch/home/.config\nC.UTF-8\nunset\n");
  EXPECT_FALSE(Exists(work_ + "/scratch")) << "the engine's home and temporary files stay";
}

TEST_F(RunScript, ReportsTheEnginesStatusAndTheTimeLimit) {
  struct Case { const char* what; std::string engine; uint32_t limitMs; const char* status; };
  const Case cases[] = {
      {"fails", WriteEngine("fails", "exit 3"), 5000, "3\n"},
      {"missing", base_ + "/absent", 5000, "127\n"},
      {"never ends", WriteEngine("never-ends", "sleep 30 & sleep 30"), 100, "124\n"},
      {"ignores TERM", WriteEngine("ignores-term", "trap '' TERM; sleep 4; sleep 4"), 100, "137\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink((work_ + "/" + browser::kStatusName).c_str());
    EXPECT_EQ(RunWith(c.engine, c.limitMs), c.status);
    EXPECT_FALSE(Exists(work_ + "/scratch"));
  }
}

TEST_F(RunScript, RemovesAnAbandonedFolderWhole) {
  std::ofstream(work_ + "/" + browser::kAbandonedName) << "";
  RunWith(WriteEngine("succeeds", "exit 0"), 5000);
  EXPECT_FALSE(Exists(work_));
}

TEST(FrameHtml, FramesThePageSandboxedWithoutScripts) {
  const std::string html = browser::FrameHtml("file:///p%20q.html");
  EXPECT_NE(html.find("<iframe sandbox=\"allow-same-origin\" src=\"file:///p%20q.html\">"), std::string::npos);
  EXPECT_EQ(html.find("allow-scripts"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
}

}  // namespace
