// The browser extractor's Linux side: the script that starts the page service, run for real by
// /bin/sh with a fake page driver (quoting of awkward folder names, arguments, environment,
// clean-up), the page service with a fake engine, and the driver's request policy, message reading
// and picture decoding.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/page_driver/job_reader.h"
#include "wine_extractor/page_driver/meeting_place.h"
#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/page_file.h"
#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/page_driver/request_policy.h"
#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/protocol/engine_settings.h"
#include "wine_extractor/protocol/meeting_folder.h"

namespace {

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

// A fresh folder under /tmp in which `commands` (sh, run there) made a tree; empty when they failed.
std::string TempTree(const std::string& commands) {
  char pattern[] = "/tmp/browser-policy-XXXXXX";
  if (!mkdtemp(pattern)) return "";
  const std::string base = pattern;
  return system(("cd '" + base + "' && " + commands).c_str()) == 0 ? base : "";
}

TEST(ShellQuote, GivesBackEveryStringAsOneWord) {
  for (const char* text : {"", "plain", "two  spaces", "it's", "''", "$HOME `id` \"q\" \\ *", "\xE6\x97\xA5 \xE6\x9C\xAC"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Shell("printf '%s|' " + wine_extractor::ShellQuote(text)), std::string(text) + "|");
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
  for (const Case& c : cases) EXPECT_EQ(wine_extractor::FileUrl(c.path), c.url);
}

TEST(TimeLimit, ReadsMillisecondsAndFallsBackOnAnythingElse) {
  struct Case { const char* text; uint32_t expected; };
  const Case cases[] = {{"1", 1},       {"20000", 20000}, {"600000", 600000}, {"600001", 7}, {"0", 7},
                        {"", 7},        {"-5", 7},        {" 5", 7},          {"5s", 7},    {"99999999", 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(wine_extractor::ParseTimeLimit(c.text, 7), c.expected);
  }
}

class ServiceScript : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/browser-job-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
  }
  void TearDown() override { Shell("rm -rf " + wine_extractor::ShellQuote(base_)); }

  std::string WriteDriver(const std::string& name, const std::string& body) {
    const std::string path = base_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0700);
    return path;
  }

  std::string base_;
};

// The script as the shell reads it once filled, with names that are hardest to quote (and, where
// shellcheck is installed, without a mistake it calls an error).
TEST_F(ServiceScript, ParsesOnceFilled) {
  const std::string odd = base_ + "/it's a $HOME `x` @ISOLATION@ @DRIVER@;\xE6\x97\xA5";
  const std::string file = base_ + "/script.sh";
  std::ofstream(file, std::ios::binary) << wine_extractor::ServiceScript(odd, odd, odd, 100, "it's", 2);
  EXPECT_EQ(Shell("sh -n " + wine_extractor::ShellQuote(file) + " 2>&1; echo $?"), "0\n");
  if (Shell("command -v shellcheck >/dev/null && echo yes") == "yes\n")
    EXPECT_EQ(Shell("shellcheck -s sh -S error " + wine_extractor::ShellQuote(file) + " 2>&1; echo $?"), "0\n");
}

// The service starts in its spool in the meeting folder, which the real driver makes: the driver
// gets its arguments, the starting host's sign of life in the spool, and a private environment whose
// scratch folder (beside the spool) goes when it ends. A meeting folder that is a link: nothing runs,
// nothing is written there.
TEST_F(ServiceScript, StartsTheServiceInItsSpoolOnly) {
  const std::string q = wine_extractor::ShellQuote(base_);
  const std::string driver = WriteDriver(
      "serve", "[ \"$1\" = --spool ] && exec " ZELNAR_PAGE_DRIVER " \"$@\"\n"
               "{ for a; do printf '%s\\n' \"$a\"; done; ls -A \"$2\"; printf '%s\\n' \"$HOME\" \"$TMPDIR\" "
               "\"$XDG_CONFIG_HOME\" \"$LANG\" \"${LC_ALL-unset}\" \"$ZELNAR_BROWSER_PARALLEL\"; } > \"$B/served.part\"\n"
               "touch \"$HOME/left-in-home\" \"$TMPDIR/left-in-tmp\" && mv \"$B/served.part\" \"$B/served\"");
  const std::string script = wine_extractor::ServiceScript(driver, "/opt/the engine", "spool", 0, "first", 3);
  for (bool planted : {false, true}) {
    SCOPED_TRACE(planted ? "a link planted as the meeting folder" : "a private runtime folder");
    Shell("cd " + q + " && rm -rf run docs served && mkdir -m 700 run && mkdir -m 755 docs" +
          (planted ? " && ln -s ../docs run/zelnar" : ""));
    Shell("cd / && B=" + q + " XDG_RUNTIME_DIR=" + q + "/run LC_ALL=ja_JP.UTF-8 /bin/sh -c " +
          wine_extractor::ShellQuote(script));
    for (int i = 0; i < 100 && !planted && !Exists(base_ + "/served"); ++i) usleep(20000);
    EXPECT_EQ(Exists(base_ + "/served"), !planted) << "the service ran";
    EXPECT_EQ(Shell("cd " + q + " && ls -A docs && stat -c %a docs"), "755\n") << "written into the link's target";
    if (planted) continue;
    const std::string used = base_ + "/run/zelnar/spool";
    std::istringstream served(Slurp(base_ + "/served"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(served, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ(lines[0] + "|" + lines[1] + "|" + lines[2] + "|" + lines[3], "--serve|" + used + "|/opt/the engine|0");
    EXPECT_EQ(lines[4] == "--no-sandbox", getuid() == 0) << "the sandbox is dropped only as root";
    const std::string all = Slurp(base_ + "/served");
    for (const char* expected : {"\n--host-resolver-rules=MAP * ~NOTFOUND\n", "\n--proxy-bypass-list=<-loopback>\n",
                                 "\nfirst.alive\n"})
      EXPECT_NE(all.find(expected), std::string::npos) << expected;
    EXPECT_EQ(all.find("--user-data-dir"), std::string::npos) << "a profile on disk";
    // HOME, TMPDIR, XDG_CONFIG_HOME, LANG, LC_ALL, how many pages at once.
    const std::vector<std::string> env(lines.end() - 6, lines.end());
    const std::string scratch = env[0].substr(0, env[0].rfind('/'));
    EXPECT_EQ(scratch.rfind(base_ + "/run/zelnar/scratch.", 0), 0u) << scratch;
    EXPECT_EQ(env[1] + " " + env[2] + " " + env[3] + " " + env[4] + " " + env[5],
              scratch + "/tmp " + scratch + "/home/.config C.UTF-8 unset 3");
    for (int i = 0; i < 100 && Exists(scratch); ++i) usleep(20000);
    EXPECT_FALSE(Exists(scratch)) << "the engine's home and temporary files stay";
    EXPECT_EQ(Shell("stat -c %a " + wine_extractor::ShellQuote(used)), "700\n");
  }
}

// Where the extractor and its service meet, named from the environment alone.
TEST(MeetingFolder, NamesItsWayFromTheEnvironment) {
  struct Case { const char* runtime; const char* cache; const char* home; const char* ways; };
  const Case cases[] = {
      {"/run/user/7/", "", "/home/u", "/run/user/7/zelnar | /home/u/.cache/zelnar from /home/u"},
      {"", "/home/u/c//x/", "/home/u/", "- | /home/u/c/x/zelnar from /home/u"},
      {"run", "/var/cache/u", "/home/u", "- | /var/cache/u/zelnar"},
      {"/r/../s", "/home/u/../v", "/home/u", "- | /home/u/.cache/zelnar from /home/u"},
      {"", "", "", "- | -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ways);
    const auto runtime = wine_extractor::RuntimeWay(c.runtime);
    const auto cache = wine_extractor::CacheWay(c.cache, c.home);
    const std::string ways = (runtime ? runtime->Path() : "-") + " | " +
                             (cache ? cache->Path() + (cache->baseIsHome ? " from " + cache->base : "") : "-");
    EXPECT_EQ(ways, c.ways);
  }
  EXPECT_EQ(wine_extractor::SpoolName("/a/zelnar-page-driver"), wine_extractor::SpoolName("/a/zelnar-page-driver"));
  EXPECT_NE(wine_extractor::SpoolName("/a/zelnar-page-driver"), wine_extractor::SpoolName("/b/zelnar-page-driver"));
  const std::string environment("A=1\0HOME=/h\0HOMES=x\0", 20);
  EXPECT_EQ(wine_extractor::EnvironmentValue(environment, "HOME"), "/h");
  EXPECT_FALSE(wine_extractor::EnvironmentValue(environment, "HOM"));
}

// The spool is made only where nobody else can enter. A runtime folder that is not a private folder
// of the user's gives way to the cache's; a folder on the cache's way that fails is named with what
// is wrong, and nothing is made or changed in it or where a link leads.
TEST(MeetingFolder, MakesTheSpoolOnlyWhereNoOneElseCanEnter) {
  const std::string base = TempTree("mkdir -m 755 home elsewhere && mkdir -m 700 run");
  ASSERT_FALSE(base.empty());
  struct Case { const char* what; const char* make; bool asRoot; const char* got; };
  const Case cases[] = {
      {"a private runtime folder", "", false, "run/zelnar/s"},
      {"a runtime folder of another account", "chown 65534 run", true, "home/.cache/zelnar/s"},
      {"a runtime folder others may open", "chmod 755 run", false, "home/.cache/zelnar/s"},
      {"a runtime folder that is a link", "rm -r run && ln -s home run", false, "home/.cache/zelnar/s"},
      {"a cache folder that is a link", "rmdir run && ln -s ../elsewhere home/.cache", false, "home/.cache is a link"},
      {"a meeting folder others may open", "rmdir run && mkdir -p home/.cache/zelnar && chmod 755 home/.cache/zelnar",
       false, "home/.cache/zelnar may be opened by others (mode 0755, not 0700)"},
      {"a spool of another account", "chmod 777 run && mkdir -p -m 700 home/.cache/zelnar && chmod 700 home/.cache/zelnar "
       "&& mkdir -m 700 home/.cache/zelnar/s && chown 65534 home/.cache/zelnar/s", true,
       "home/.cache/zelnar/s belongs to another account"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.asRoot && getuid() != 0) {
      std::printf("  skipped \"%s\": only root can give a folder to another account\n", c.what);
      continue;
    }
    Shell("cd '" + base + "' && rm -rf run home/.cache elsewhere/* && mkdir -m 700 run && " + (c.make[0] ? c.make : ":"));
    const std::string before = Shell("cd '" + base + "' && ls -lR elsewhere run/ 2>&1");
    const wine_extractor::SpoolPlace place = wine_extractor::MakeSpool("s", base + "/run", "", base + "/home");
    const std::string got = place.path.empty() ? place.wrong : place.path + " (" +
                            Shell("stat -c %a '" + place.path + "' | tr -d '\\n'") + ")";
    EXPECT_EQ(got.rfind(base + "/" + c.got + (place.path.empty() ? "" : " (700)"), 0), 0u) << got;
    if (!place.path.empty()) continue;
    EXPECT_EQ(Shell("cd '" + base + "' && ls -lR elsewhere run/ 2>&1"), before) << "changed where it failed";
  }
  EXPECT_EQ(wine_extractor::MakeSpool("../s", base + "/run", "", base + "/home").path, "");
  Shell("rm -rf '" + base + "'");
}

TEST(ProcStat, ReadsIdentityGroupAndMemoryWhateverTheName) {
  const std::string tail = " S 1 4242 4242 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 987654 12345678 321 18446744073709551615\n";
  struct Case { std::string line; bool ok; };
  const Case cases[] = {
      {"4242 (sh)" + tail, true},
      {"4242 (a) b) (c d)" + tail, true},
      {"4242 ()" + tail, true},
      {"4242 (sh) S 1 4242", false},
      {"x (sh)" + tail, false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::optional<wine_extractor::ProcStat> stat = wine_extractor::ParseProcStat(c.line);
    ASSERT_EQ(bool(stat), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(stat->identity.pid, 4242u);
    EXPECT_EQ(stat->group, 4242);
    EXPECT_EQ(stat->identity.start, 987654u);
    EXPECT_EQ(stat->residentPages, 321u);
    EXPECT_EQ(stat->state, 'S');
  }
  EXPECT_TRUE(wine_extractor::ParseIdentity("4242 987654") == (wine_extractor::ProcessIdentity{4242, 987654}));
  for (const char* broken : {"", "4242", "4242 ", " 4242 1", "0 1", "4242 1 ", "a 1"}) EXPECT_FALSE(wine_extractor::ParseIdentity(broken)) << broken;
  // This process, as the extractor finds its host.
  const std::optional<wine_extractor::ProcStat> self = wine_extractor::ParseProcStat(Slurp("/proc/self/stat"));
  ASSERT_TRUE(self);
  EXPECT_EQ(self->identity.pid, uint32_t(getpid()));
  EXPECT_GT(wine_extractor::GroupResidentBytes(getpgrp()), 0u);
}

// Paths as written, no links: the URL's own text decides.
std::optional<std::string> NoLinks(const std::string& path) { return path; }

TEST(RequestPolicy, AllowsOnlyFilesInsideThePagesFolder) {
  struct Case { const char* url; bool allowed; };
  const Case cases[] = {
      {"file:///pages/p%20q/a.png", true},
      {"file:///pages/p%20q/sub/b.css", true},
      {"file:///pages/p q/c.svg?x=1#y", true},
      {"file:///pages/p%20q/%E6%97%A5.png", true},
      {"file:///pages/p%20q/back%5Cslash/a.png", true},
      {"file:///pages/p%20q/page.html", true},
      {"data:image/png;base64,AAAA", true},
      {"file:///pages/p%20q", false},
      {"file:///pages/p%20q/", false},
      {"file:///pages/p%20qx/a.png", false},
      {"file:///pages/a.png", false},
      {"file:///etc/passwd", false},
      {"file:///pages/p%20q/../x/a.png", false},
      {"file:///pages/p%20q/%2E%2E/a.png", false},
      {"file:///pages/p%20q%2F..%2Fa.png", false},
      {"file:///pages/p%20q/a%00.png", false},
      {"file:///pages/p%20q/%zz.png", false},
      {"file:///pages/p%20q/a.png%", false},
      {"file:///pages/p%20q/.hidden.png", false},
      {"file:///pages/p%20q/.config/a.png", false},
      {"file:///pages/p%20q/sub/%2Essh/id_rsa", false},
      {"file://host/pages/p%20q/a.png", false},
      {"http://127.0.0.1/pages/p%20q/a.png", false},
      {"https://example.invalid/", false},
      {"ws://localhost/", false},
      {"blob:null/1234", false},
      {"about:blank", false},
      {"", false},
  };
  const std::optional<wine_extractor::PageScope> scope = wine_extractor::ScopeOfPage("/pages/p q/page.html", NoLinks);
  ASSERT_TRUE(scope);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(wine_extractor::RequestAllowed(c.url, *scope, NoLinks), c.allowed);
  }
}

// The rule on a real tree: links are followed to where they lead, hidden names and the root stay
// closed. The secret lies beside the page's folder.
TEST(RequestPolicy, FollowsEveryLinkToWhereItReallyLeads) {
  const std::string base = TempTree("mkdir -p pages/sub pages/.hidden outside && "
      "touch secret pages/page.html pages/a.png pages/.hidden/a.png pages/sub/b.png outside/page.html && "
      "ln -s ../secret pages/file-link && ln -s ../outside pages/folder-link && ln -s / pages/sub/root && "
      "ln -s ../outside/page.html pages/page-link.html && ln -s \"$PWD/pages/sub/b.png\" outside/back && "
      "ln -s ../outside/back pages/chain && ln -s a.png pages/.dot-link && ln -s .hidden/a.png pages/to-hidden");
  ASSERT_FALSE(base.empty());
  const std::string pages = base + "/pages";
  const std::optional<wine_extractor::PageScope> scope = wine_extractor::ScopeOfPage(pages + "/page.html", wine_extractor::RealPath);
  ASSERT_TRUE(scope);
  struct Case { const char* path; bool allowed; };
  const Case cases[] = {
      {"/a.png", true},                // a file of the folder
      {"/sub/b.png", true},
      {"/chain", true},                // out of the folder and back in
      {"/file-link", false},           // a link to a file outside
      {"/folder-link/page.html", false},
      {"/sub/root/etc/passwd", false}, // a subfolder linking to /
      {"/.hidden/a.png", false},
      {"/.dot-link", false},           // a hidden name, wherever it leads
      {"/to-hidden", false},           // a visible name leading to a hidden one
      {"/absent.png", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(wine_extractor::RequestAllowed(wine_extractor::FileUrl(pages + c.path), *scope, wine_extractor::RealPath), c.allowed);
  }
  EXPECT_FALSE(wine_extractor::ScopeOfPage(pages + "/page-link.html", wine_extractor::RealPath)) << "the page itself is a link out";
  // A page in the root loads only itself.
  const std::optional<wine_extractor::PageScope> root = wine_extractor::ScopeOfPage("/page.html", NoLinks);
  ASSERT_TRUE(root);
  EXPECT_TRUE(wine_extractor::RequestAllowed("file:///page.html", *root, NoLinks));
  for (const char* url : {"file:///etc/passwd", "file:///root/.ssh/id_rsa", "file:///a.png"})
    EXPECT_FALSE(wine_extractor::RequestAllowed(url, *root, NoLinks)) << url;
  Shell("rm -rf '" + base + "'");
}

// Per kind of request and place, on a real tree: what the driver hands the engine (judged, then
// opened without following links). The page lies in base/docs/sub.
TEST(RequestPolicy, ServesDocumentsFromInsideAndResourcesFromAboveTooButNothingHidden) {
  const std::string base = TempTree("mkdir -p docs/sub/deeper docs/static .hidden && "
      "touch docs/sub/page.html docs/sub/a.css docs/sub/deeper/b.css docs/static/c.css docs/d.css .hidden/e.css && "
      "ln -s ../static/c.css docs/sub/up.css && ln -s ../../.hidden/e.css docs/sub/to-hidden.css && "
      "mkfifo docs/static/fifo.css && printf 1234 > docs/four && ln -s docs docs-link");
  ASSERT_FALSE(base.empty());
  const std::string pages = base + "/docs/sub";
  struct Case { std::string path; bool document, resource; };
  const Case cases[] = {
      {pages + "/a.css", true, true},                  // beside
      {pages + "/deeper/b.css", true, true},           // below
      {base + "/docs/static/c.css", false, true},      // above
      {base + "/docs/d.css", false, true},
      {"/etc/hostname", false, true},                  // from the root down
      {pages + "/up.css", false, true},                // a link from inside to above
      {pages + "/to-hidden.css", false, false},        // a link into a hidden folder
      {base + "/.hidden/e.css", false, false},
      {base + "/docs/static/fifo.css", false, false},  // judged, but no regular file
      {"/proc/self/environ", false, false},
      {"/dev/zero", false, false},
      {"/sys/kernel/mm/transparent_hugepage/enabled", false, false},
  };
  for (bool strict : {false, true}) {
    std::optional<wine_extractor::PageScope> scope = wine_extractor::ScopeOfPage(pages + "/page.html", wine_extractor::RealPath);
    ASSERT_TRUE(scope);
    scope->strict = strict;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.path + (strict ? " (strict)" : ""));
      for (auto kind : {wine_extractor::RequestKind::kDocument, wine_extractor::RequestKind::kResource}) {
        const std::optional<std::string> file =
            wine_extractor::AllowedFile(wine_extractor::FileUrl(c.path), *scope, wine_extractor::RealPath, kind);
        const bool served = file && wine_extractor::ReadPageFile(*file);
        EXPECT_EQ(served, kind == wine_extractor::RequestKind::kDocument || strict ? c.document : c.resource);
      }
    }
  }
  EXPECT_EQ(wine_extractor::KindOfResource("Stylesheet"), wine_extractor::RequestKind::kResource);
  for (const char* type : {"Document", "Object", "Other", "Script", "", "image"})
    EXPECT_EQ(wine_extractor::KindOfResource(type), wine_extractor::RequestKind::kDocument) << type;
  // The opener itself: whatever link lies on the way, and the size bound.
  EXPECT_EQ(wine_extractor::ReadPageFile(base + "/docs/four"), std::optional<std::string>("1234"));
  EXPECT_FALSE(wine_extractor::ReadPageFile(base + "/docs-link/four")) << "a link on the way";
  EXPECT_FALSE(wine_extractor::ReadPageFile(base + "/docs/four", 3)) << "over the size bound";
  EXPECT_FALSE(wine_extractor::ReadPageFile(base + "/docs")) << "a folder";
  EXPECT_EQ(wine_extractor::ContentTypeOf("/a/b.CSS"), "text/css");
  EXPECT_EQ(wine_extractor::ContentTypeOf("/a.d/b"), "");
  Shell("rm -rf '" + base + "'");
}

TEST(PageJob, GoesToTheServiceAndBackWhateverThePath) {
  const wine_extractor::PageJob job{"/p\xE6\x97\xA5/a\n\"b\\c.html", 333, 222, 20000, 2048, true};
  const std::optional<wine_extractor::PageJob> back = wine_extractor::ParseJob(wine_extractor::FormatJob(job));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->page, job.page);
  EXPECT_EQ(back->width, 333);
  EXPECT_EQ(back->height, 222);
  EXPECT_EQ(back->timeLimitMs, 20000u);
  EXPECT_EQ(back->memoryLimitMb, 2048u);
  EXPECT_TRUE(back->strictFolder);
  for (const char* broken : {"", "{}", R"({"page":"rel.html","width":1,"height":1,"limit":1,"memory":1})",
                             R"({"page":"/a","width":0,"height":1,"limit":1,"memory":1})",
                             R"({"page":"/a","width":16385,"height":1,"limit":1,"memory":1})",
                             R"({"page":"/a","width":1.5,"height":1,"limit":1,"memory":1})",
                             R"({"page":"/a","width":1,"height":1,"limit":600001,"memory":1})",
                             R"({"page":"/a","width":1,"height":1,"limit":1})"})
    EXPECT_FALSE(wine_extractor::ParseJob(broken)) << broken;
}

// The page service with a stand-in engine (fake_engines/engine): one service per spool, every page
// answered by a status, an engine that breaks fails its own page alone, and the idle end leaves
// nothing behind.
class PageService : public testing::Test {
 protected:
  void SetUp() override {
    base_ = TempTree("mkdir -m 700 spool tmp && echo '<p>page' >page.html");
    ASSERT_FALSE(base_.empty());
  }
  void TearDown() override { Shell("rm -rf '" + base_ + "'"); }

  // The service with the fake engine in `mode`; with `memoryMb`, the address space it may hold.
  pid_t Start(const std::string& mode, rlim_t memoryMb = 0, const char* idleMs = "300") {
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("TMPDIR", (base_ + "/tmp").c_str(), 1);
      const rlimit limit{memoryMb << 20, memoryMb << 20};
      if (memoryMb) setrlimit(RLIMIT_AS, &limit);
      execl(ZELNAR_PAGE_DRIVER, ZELNAR_PAGE_DRIVER, "--serve", (base_ + "/spool").c_str(),
            ZELNAR_FAKE_ENGINES "/engine", idleMs, ("--mode=" + mode).c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  // Hands in a page as the extractor does.
  void Submit(const std::string& id) {
    const std::string spool = base_ + "/spool/" + id;
    // A time limit no busy machine reaches: each mode ends the page by itself.
    const std::string job = wine_extractor::FormatJob({base_ + "/page.html", 64, 48, 30000, 2048, false});
    std::ofstream(spool + ".alive");
    std::ofstream(spool + ".part", std::ios::binary) << job;
    rename((spool + ".part").c_str(), (spool + ".job").c_str());
  }

  // Hands in a page and waits for its status, keeping the host's sign of life.
  std::string Serve(const std::string& id) {
    const std::string spool = base_ + "/spool/" + id;
    Submit(id);
    for (int i = 0; i < 8000; ++i) {
      if (Exists(spool + ".status")) return Slurp(spool + ".status");
      if (!Exists(spool + ".alive")) std::ofstream(spool + ".alive");
      usleep(5000);
    }
    return "no status";
  }

  // The service's exit status once it has ended by itself, or -1.
  static int Ended(pid_t pid, int withinMs) {
    for (int waited = 0; waited < withinMs; waited += 10) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }

  // The fake engine's processes (the service names it on its own command line too).
  static std::string Engines() { return Shell("pgrep -f '^/bin/bash " ZELNAR_FAKE_ENGINES "/engin[e]' | wc -l"); }

  std::string base_;
};

TEST_F(PageService, AnswersEveryPageAndOutlivesAnEngineThatBreaks) {
  struct Case {
    const char* mode;
    const char* status;  // how the first page's status begins
    const char* next = nullptr;  // the second page's, when it differs
    rlim_t memoryMb = 0;
  };
  for (const Case& c : {Case{"draws", "0\n"}, Case{"dies-after", "0\n"},
                        Case{"malformed", "4 the engine sent a message that is not JSON"},
                        Case{"never-draws", "4 the engine drew no picture of the page"},
                        Case{"dies-during", "4 the engine ended or closed its pipe"},
                        Case{"huge-once", "4 the driver failed: std::bad_alloc", "0\n", 256}}) {
    SCOPED_TRACE(c.mode);
    const pid_t service = Start(c.mode, c.memoryMb);
    for (const char* id : {"first", "second"}) {
      const char* expected = id[0] == 's' && c.next ? c.next : c.status;
      const std::string status = Serve(id);
      EXPECT_EQ(status.rfind(expected, 0), 0u) << id << ": " << status;
      EXPECT_EQ(Exists(base_ + "/spool/" + id + ".png"), expected[0] == '0') << id;
      EXPECT_FALSE(Exists(base_ + "/spool/" + id + ".run")) << id;
    }
    if (c.mode == std::string("draws")) {
      EXPECT_EQ(Slurp(base_ + "/spool/first.png"), "\x89PNG\r\n\x1a\n");
      // A second service for the same spool leaves it to the first and returns at once.
      EXPECT_EQ(Ended(Start(c.mode), 3000), 0);
      EXPECT_EQ(kill(service, 0), 0);
    }
    for (const char* id : {"first", "second"})
      for (const char* suffix : {".png", ".status", ".alive"}) unlink((base_ + "/spool/" + id + suffix).c_str());
    // Idle, it ends its engine and takes its folder away.
    EXPECT_EQ(Ended(service, 10000), 0);
    EXPECT_FALSE(Exists(base_ + "/spool"));
    EXPECT_EQ(Engines(), "0\n");
    mkdir((base_ + "/spool").c_str(), 0700);
  }
}

// Without an idle time (a host that keeps no engine running): the service waits for the page of
// the host that started it, whose sign of life is there first, keeps no engine while no page
// waits, and ends as soon as the page's files are gone. A service killed outright takes its engine
// along, whatever the engine does.
TEST_F(PageService, EndsAtOnceWithoutIdleTimeAndTakesItsEngineAlongWhenKilled) {
  std::ofstream(base_ + "/spool/first.alive");
  pid_t service = Start("draws", 0, "0");
  usleep(300000);
  EXPECT_EQ(kill(service, 0), 0) << "it ended before the page came";
  EXPECT_EQ(Engines(), "0\n") << "an engine made ahead";
  EXPECT_EQ(Serve("first"), "0\n");
  usleep(300000);
  EXPECT_EQ(Engines(), "0\n") << "the engine outlived its page";
  for (const char* suffix : {".png", ".status", ".alive"}) unlink((base_ + "/spool/first" + suffix).c_str());
  EXPECT_EQ(Ended(service, 3000), 0);
  EXPECT_FALSE(Exists(base_ + "/spool"));

  mkdir((base_ + "/spool").c_str(), 0700);
  service = Start("never-loads");
  Submit("stuck");
  for (int i = 0; i < 200 && Engines() == "0\n"; ++i) usleep(20000);
  ASSERT_NE(Engines(), "0\n");
  kill(service, SIGKILL);
  waitpid(service, nullptr, 0);
  std::string left;
  for (int i = 0; i < 60 && (left = Engines()) != "0\n"; ++i) usleep(50000);
  EXPECT_EQ(left, "0\n") << "engine processes outlived their service by 3 s";
}

TEST(JsonValue, ReadsTheEnginesMessages) {
  const auto message = wine_extractor::JsonValue::Parse(
      R"({"method":"Fetch.requestPaused","params":{"requestId":"interception-job-1.0",)"
      R"("request":{"url":"file:///p/\u65e5\"q\\.png","headers":{}},"n":[1,2.5e1,true,false,null]},)"
      R"("sessionId":"AB"})");
  ASSERT_TRUE(message);
  EXPECT_EQ((*message)["method"].Text(), "Fetch.requestPaused");
  EXPECT_EQ((*message)["params"]["requestId"].Text(), "interception-job-1.0");
  EXPECT_EQ((*message)["params"]["request"]["url"].Text(), "file:///p/\xE6\x97\xA5\"q\\.png");
  EXPECT_EQ((*message)["params"]["missing"]["deeper"].Text(), "");
  EXPECT_EQ((*message)["id"].Number(), -1);
  const auto reply = wine_extractor::JsonValue::Parse(R"( {"id": 12, "result": {}} )");
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)["id"].Number(), 12);
  const auto pair = wine_extractor::JsonValue::Parse(R"("\ud83d\ude00")");
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->Text(), "\xF0\x9F\x98\x80");
  // A lone half of a pair, high or low, is one U+FFFD; what follows it stays.
  for (const char* lone : {R"("\ud83d")", R"("\ude00")", R"("\ud83dx")", R"("\ud83d\u0041")"}) {
    const auto text = wine_extractor::JsonValue::Parse(lone);
    ASSERT_TRUE(text) << lone;
    EXPECT_EQ(text->Text().substr(0, 3), "\xEF\xBF\xBD") << lone;
  }
  EXPECT_EQ(wine_extractor::JsonValue::Parse(R"("\ud83d\u0041")")->Text(), "\xEF\xBF\xBD" "A");
  // Numbers as JSON writes them, and ids only where they are whole and exact.
  for (const char* number : {"0", "-0", "12", "-1.5", "2.5e1", "1E-2", "1e+2"})
    EXPECT_TRUE(wine_extractor::JsonValue::Parse(number)) << number;
  EXPECT_EQ(wine_extractor::JsonValue::Parse("1e999")->Whole(), std::nullopt);
  EXPECT_EQ(wine_extractor::JsonValue::Parse("2.5")->Whole(), std::nullopt);
  EXPECT_EQ(wine_extractor::JsonValue::Parse("-7")->Whole(), -7);
  for (const char* broken : {"", "{", R"({"a":})", "[1,]", R"("open)", R"({"a":1} x)", "tru", R"("\q")", "+1", "01",
                             ".5", "1.", "-", "1e", "--1", "0x10", "1.5.2"}) {
    SCOPED_TRACE(broken);
    EXPECT_FALSE(wine_extractor::JsonValue::Parse(broken));
  }
  EXPECT_FALSE(wine_extractor::JsonValue::Parse(std::string(100, '[') + std::string(100, ']'))) << "nesting is bounded";
  EXPECT_EQ(wine_extractor::JsonString("a\"b\\c\n\x01"), R"("a\"b\\c\u000a\u0001")");
}

TEST(Base64, DecodesPicturesAndRefusesAnythingElse) {
  struct Case { const char* text; bool ok; const char* bytes; };
  const Case cases[] = {{"", true, ""},          {"TQ==", true, "M"},      {"TWE=", true, "Ma"},
                        {"TWFu", true, "Man"},    {"TWFuTQ", true, "ManM"}, {"TW Fu", false, ""},
                        {"TQ==TQ==", false, ""}, {"T===", false, ""},      {"TWF-", false, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string bytes;
    EXPECT_EQ(wine_extractor::Base64Decode(c.text, bytes), c.ok);
    if (c.ok) EXPECT_EQ(bytes, c.bytes);
    if (c.ok) EXPECT_EQ(wine_extractor::Base64Encode(bytes), std::string(c.text) + std::string((4 - strlen(c.text) % 4) % 4, '='));
  }
}

}  // namespace
