// The browser extractor's Linux side: the script that starts the page service, run for real by
// /bin/sh with a fake page driver (quoting of awkward folder names, arguments, environment,
// clean-up), the page service with a fake engine, and the driver's request policy, message reading
// and picture decoding.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/base64.h"
#include "wine_extractor/page_driver/job_reader.h"
#include "wine_extractor/page_driver/meeting_place.h"
#include "wine_extractor/page_driver/json_value.h"
#include "wine_extractor/page_driver/page_file.h"
#include "wine_extractor/page_driver/proc_files.h"
#include "wine_extractor/page_driver/request_answer.h"
#include "wine_extractor/page_driver/request_policy.h"
#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/protocol/engine_settings.h"
#include "wine_extractor/protocol/meeting_folder.h"
#include "wine_extractor/protocol/page_job.h"
#include "wine_extractor/protocol/page_status.h"
#include "wine_extractor/protocol/queue_report.h"

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
// `trusted`: under the build tree instead, where every folder from / down is root's or the user's
// and writable by nobody else, as the meeting folder's way must be (/tmp may be written by all).
std::string TempTree(const std::string& commands, bool trusted = false) {
  std::string pattern = trusted ? ZELNAR_TEST_TREES "/tree-XXXXXX" : "/tmp/browser-policy-XXXXXX";
  if (!mkdtemp(&pattern[0])) return "";
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
    base_ = TempTree(":", true);
    ASSERT_FALSE(base_.empty());
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

// The script starts the driver alone, which makes the spool in the meeting folder, puts the starting
// host's sign of life there, and gives the engine its arguments and a private environment whose
// scratch folder (beside the spool, reached through the driver's own descriptor) goes when the service
// ends: the meeting folder is left empty. A meeting folder that is a link: nothing runs, nothing is
// written there.
TEST_F(ServiceScript, StartsTheServiceInItsSpoolOnly) {
  const std::string q = wine_extractor::ShellQuote(base_);
  const std::string engine = WriteDriver(
      "the engine", "{ for a; do printf '%s\\n' \"$a\"; done; ls -A; printf '%s\\n' \"$HOME\" \"$TMPDIR\" "
                    "\"$XDG_CONFIG_HOME\" \"$LANG\" \"${LC_ALL-unset}\" \"$ZELNAR_BROWSER_PARALLEL\" "
                    "\"$(readlink \"${HOME%/home}\")\"; } > \"$B/served.part\"\n"
                    "touch \"$HOME/left-in-home\" \"$TMPDIR/left-in-tmp\" && mv \"$B/served.part\" \"$B/served\" && "
                    "exec /usr/bin/python3 " ZELNAR_FAKE_ENGINES "/engine \"$@\"");
  const std::string script = wine_extractor::ServiceScript(ZELNAR_PAGE_DRIVER, engine, "spool", 0, "first", 3);
  const std::string used = base_ + "/run/zelnar/spool";
  for (bool planted : {false, true}) {
    SCOPED_TRACE(planted ? "a link planted as the meeting folder" : "a private runtime folder");
    Shell("cd " + q + " && rm -rf run docs served && mkdir -m 700 run && mkdir -m 755 docs && echo '<p>' > page.html" +
          (planted ? " && ln -s ../docs run/zelnar" : ""));
    Shell("cd / && B=" + q + " XDG_RUNTIME_DIR=" + q + "/run LC_ALL=ja_JP.UTF-8 /bin/sh -c " +
          wine_extractor::ShellQuote(script));
    for (int i = 0; i < 100 && !planted && !Exists(used + "/service"); ++i) usleep(20000);
    EXPECT_EQ(Shell("cd " + q + " && ls -A docs && stat -c %a docs"), "755\n") << "written into the link's target";
    if (planted) {
      usleep(200000);
      EXPECT_FALSE(Exists(base_ + "/served")) << "the service ran";
      continue;
    }
    EXPECT_TRUE(Exists(used + "/first.alive")) << "the starting host's sign of life";
    std::ofstream(used + "/first.part") << wine_extractor::FormatJob({base_ + "/page.html", 64, 48, 30000, 2048, false});
    rename((used + "/first.part").c_str(), (used + "/first.job").c_str());
    for (int i = 0; i < 500 && !Exists(used + "/first.status"); ++i) usleep(20000);
    EXPECT_EQ(Slurp(used + "/first.status"), "0\n");
    std::istringstream served(Slurp(base_ + "/served"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(served, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 8u);
    const std::string all = Slurp(base_ + "/served");
    for (const char* expected : {"\n--host-resolver-rules=MAP * ~NOTFOUND\n", "\n--proxy-bypass-list=<-loopback>\n",
                                 "\nfirst.run\n"})
      EXPECT_NE(all.find(expected), std::string::npos) << expected;
    EXPECT_EQ(all.find("\n--no-sandbox\n") != std::string::npos, getuid() == 0) << "the sandbox is dropped only as root";
    EXPECT_EQ(all.find("--user-data-dir"), std::string::npos) << "a profile on disk";
    // HOME, TMPDIR, XDG_CONFIG_HOME, LANG, LC_ALL, how many pages at once, where HOME's folder lies.
    const std::vector<std::string> env(lines.end() - 7, lines.end());
    const std::string scratch = env[0].substr(0, env[0].rfind('/'));
    EXPECT_EQ(scratch.rfind("/proc/", 0), 0u) << "reached by name: " << scratch;
    EXPECT_EQ(env[6].rfind(base_ + "/run/zelnar/scratch.", 0), 0u) << env[6];
    EXPECT_EQ(env[1] + " " + env[2] + " " + env[3] + " " + env[4] + " " + env[5],
              scratch + "/tmp " + scratch + "/home/.config C.UTF-8 unset 3");
    Shell("cd " + wine_extractor::ShellQuote(used) + " && rm -f first.*");
    for (int i = 0; i < 250 && Shell("ls -A " + q + "/run/zelnar") != ""; ++i) usleep(20000);
    EXPECT_EQ(Shell("ls -A " + q + "/run/zelnar"), "") << "the service's folders stay";
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
// of the user's gives way to the cache's; a folder on the cache's way, from / down, that fails is
// named with what is wrong, and nothing is made or changed in it or where a link leads. A link above
// the home is followed, and what it leads through judged as any folder.
TEST(MeetingFolder, MakesTheSpoolOnlyWhereNoOneElseCanEnter) {
  const std::string base = TempTree("mkdir -m 755 home elsewhere && mkdir -m 700 run", true);
  ASSERT_FALSE(base.empty());
  struct Case { const char* what; const char* make; bool asRoot; const char* got; const char* home = "home"; };
  const Case cases[] = {
      {"a private runtime folder", "", false, "run/zelnar/s"},
      {"a runtime folder of another account", "chown 65534 run", true, "home/.cache/zelnar/s"},
      {"a runtime folder others may open", "chmod 755 run", false, "home/.cache/zelnar/s"},
      {"a runtime folder that is a link", "rm -r run && ln -s home run", false, "home/.cache/zelnar/s"},
      {"a cache folder that is a link", "rmdir run && ln -s ../elsewhere home/.cache", false, "home/.cache is a link"},
      {"a cache folder its group may write", "rmdir run && mkdir -m 775 home/.cache", false,
       "home/.cache may be written by its group (mode 0775)"},
      {"a cache folder its group may write, sticky", "rmdir run && mkdir -m 1770 home/.cache", false,
       "home/.cache may be written by its group (mode 1770)"},
      {"a home its group may write", "rmdir run && chmod 775 home", false, "home may be written by its group (mode 0775)"},
      {"a home of another account", "rmdir run && chown 65534 home", true, "home belongs to another account"},
      {"an open folder above the home", "rmdir run && mkdir -m 777 open && mkdir -m 755 open/home", false,
       "open may be written by others (mode 0777)", "open/home"},
      {"a link above the home through an open folder", "rmdir run && mkdir -m 1777 open && mkdir -m 755 open/home && "
       "ln -s open/. up", false, "open may be written by others (mode 1777)", "up/home"},
      {"a link above the home to a folder that passes", "rmdir run && mkdir -p -m 755 real/home && ln -s ./real up",
       false, "real/home/.cache/zelnar/s", "up/home"},
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
    Shell("cd '" + base + "' && rm -rf run home/.cache elsewhere/* open real up && chmod 755 home && chown " +
          std::to_string(getuid()) + " home && mkdir -m 700 run && " + (c.make[0] ? c.make : ":"));
    const std::string before = Shell("cd '" + base + "' && ls -lR elsewhere run/ 2>&1");
    const wine_extractor::SpoolPlace place = wine_extractor::MakeSpool("s", base + "/run", "", base + "/" + c.home);
    const std::string got = place.path.empty() ? place.wrong : place.path + " (" +
                            Shell("stat -c %a '" + place.path + "' | tr -d '\\n'") + ")";
    EXPECT_EQ(got.rfind(base + "/" + c.got + (place.path.empty() ? "" : " (700)"), 0), 0u) << got;
    if (!place.path.empty()) continue;
    EXPECT_EQ(Shell("cd '" + base + "' && ls -lR elsewhere run/ 2>&1"), before) << "changed where it failed";
  }
  EXPECT_EQ(wine_extractor::MakeSpool("../s", base + "/run", "", base + "/home").path, "");
  // Every folder from / down counts: /tmp may be written by all.
  const std::string open = TempTree("mkdir -m 700 run");
  EXPECT_EQ(wine_extractor::MakeSpool("s", open + "/run", "", open).wrong.rfind("/tmp may be written by others", 0), 0u);
  Shell("rm -rf '" + base + "' '" + open + "'");
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

// What the driver's answer to a request lets the engine load: inline content, and a file the rules
// judge allowed.
bool LetThrough(const std::string& url, const wine_extractor::PageScope& scope, wine_extractor::RealPathFn realPath) {
  return wine_extractor::IsInline(url) || wine_extractor::JudgeRequest(url, scope, realPath).file.has_value();
}

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
    EXPECT_EQ(LetThrough(c.url, *scope, NoLinks), c.allowed);
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
    EXPECT_EQ(LetThrough(wine_extractor::FileUrl(pages + c.path), *scope, wine_extractor::RealPath), c.allowed);
  }
  EXPECT_FALSE(wine_extractor::ScopeOfPage(pages + "/page-link.html", wine_extractor::RealPath)) << "the page itself is a link out";
  // A page in the root loads only itself.
  const std::optional<wine_extractor::PageScope> root = wine_extractor::ScopeOfPage("/page.html", NoLinks);
  ASSERT_TRUE(root);
  EXPECT_TRUE(LetThrough("file:///page.html", *root, NoLinks));
  for (const char* url : {"file:///etc/passwd", "file:///root/.ssh/id_rsa", "file:///a.png"})
    EXPECT_FALSE(LetThrough(url, *root, NoLinks)) << url;
  Shell("rm -rf '" + base + "'");
}

// The answer to one paused request of `type`, as a page drawn under `scope` gets it: "" when its file is
// handed over (as the driver's descriptor), the rule that refused it, or "-" when it failed without a
// rule (no such file).
std::string Answered(const std::string& url, const wine_extractor::PageScope& scope, const std::string& type,
                     size_t filesOpen = 0) {
  std::set<std::string> frames;
  const std::optional<wine_extractor::JsonValue> params = wine_extractor::JsonValue::Parse(
      R"({"requestId":"r","frameId":"f","resourceType":)" + wine_extractor::JsonString(type) +
      R"(,"request":{"url":)" + wine_extractor::JsonString(url) + "}}");
  const wine_extractor::RequestReply reply = wine_extractor::AnswerRequest(*params, scope, frames, filesOpen);
  if (reply.method == "Fetch.continueRequest" && reply.file) {
    EXPECT_NE(reply.params.find(wine_extractor::DescriptorUrl(reply.file.Get())), std::string::npos) << reply.params;
    return "";
  }
  EXPECT_EQ(reply.method, "Fetch.failRequest");
  if (!reply.refusal) return "-";
  EXPECT_EQ(reply.refusal->kind, type);
  EXPECT_EQ(reply.refusal->url, url);
  return reply.refusal->rule;
}

// Per kind of request and place, on a real tree: what the driver hands the engine (judged, then
// opened without following links), or the rule that refuses it. The pages lie in base/docs/sub and,
// as a toolchain keeps its documentation, in base/.tool/html/std: hidden names count only below the
// folder that the page and the file share.
TEST(RequestPolicy, ServesDocumentsFromInsideAndResourcesFromAboveButNothingHiddenBesideThePage) {
  const std::string base = TempTree("mkdir -p docs/sub/deeper docs/static .hidden .tool/html/std/.own "
      ".tool/html/static.files .tool/html/.cache && "
      "touch docs/sub/page.html docs/sub/a.css docs/sub/deeper/b.css docs/static/c.css docs/d.css .hidden/e.css && "
      "ln -s ../static/c.css docs/sub/up.css && ln -s ../../.hidden/e.css docs/sub/to-hidden.css && "
      "mkfifo docs/static/fifo.css && printf 1234 > docs/four && ln -s docs docs-link && "
      "touch .tool/html/std/page.html .tool/html/std/a.css .tool/html/std/.own/b.css .tool/html/static.files/s.css "
      ".tool/html/.cache/c.css && ln -s ../../../.hidden/e.css .tool/html/static.files/away.css");
  ASSERT_FALSE(base.empty());
  const char *out = "a document from outside the page's folder", *hidden = "a hidden folder",
             *notRegular = "not a regular file", *system = "a system folder";
  struct Case { const char* page; std::string path; const char* document; const char* resource; };
  const Case cases[] = {
      {"docs/sub", "docs/sub/a.css", "", ""},                       // beside
      {"docs/sub", "docs/sub/deeper/b.css", "", ""},                // below
      {"docs/sub", "docs/static/c.css", out, ""},                   // above
      {"docs/sub", "docs/d.css", out, ""},
      {"docs/sub", "/etc/hostname", out, ""},                       // from the root down
      {"docs/sub", "docs/sub/up.css", out, ""},                     // a link from inside to above
      {"docs/sub", "docs/sub/to-hidden.css", out, hidden},          // a link into a hidden folder
      {"docs/sub", ".hidden/e.css", out, hidden},
      {"docs/sub", "docs/static/fifo.css", out, notRegular},        // judged, but no regular file
      {"docs/sub", "docs/sub/deeper/", notRegular, notRegular},     // a folder
      {"docs/sub", "docs/sub/absent.css", "-", "-"},
      {"docs/sub", "/proc/self/environ", system, system},
      {"docs/sub", "/dev/zero", system, system},
      {"docs/sub", "/sys/kernel/mm/transparent_hugepage/enabled", system, system},
      {"docs/sub", "/proc/self/root" + base + "/docs/sub/a.css", system, system},  // by name, leading inside
      {".tool/html/std", ".tool/html/std/a.css", "", ""},           // the page's own folder hidden
      {".tool/html/std", ".tool/html/std/.own/b.css", hidden, hidden},
      {".tool/html/std", ".tool/html/static.files/s.css", out, ""}, // page and file under one hidden folder
      {".tool/html/std", ".tool/html/.cache/c.css", out, hidden},   // a hidden folder between them
      {".tool/html/std", ".tool/html/static.files/away.css", out, hidden},  // a link to a hidden folder elsewhere
      {".tool/html/std", "docs/d.css", out, ""},
      {".tool/html/std", ".hidden/e.css", out, hidden},
  };
  for (bool strict : {false, true}) {
    for (const Case& c : cases) {
      const std::string path = c.path[0] == '/' ? c.path : base + "/" + c.path;
      SCOPED_TRACE(path + (strict ? " (strict)" : ""));
      std::optional<wine_extractor::PageScope> scope =
          wine_extractor::ScopeOfPage(base + "/" + c.page + "/page.html", wine_extractor::RealPath);
      ASSERT_TRUE(scope);
      scope->strict = strict;
      EXPECT_EQ(Answered(wine_extractor::FileUrl(path), *scope, "Document"), c.document);
      EXPECT_EQ(Answered(wine_extractor::FileUrl(path), *scope, "Stylesheet"), strict ? c.document : c.resource);
    }
  }
  EXPECT_EQ(wine_extractor::KindOfResource("Stylesheet"), wine_extractor::RequestKind::kResource);
  for (const char* type : {"Document", "Object", "Other", "Script", "", "image"})
    EXPECT_EQ(wine_extractor::KindOfResource(type), wine_extractor::RequestKind::kDocument) << type;
  // The opener itself, whatever link lies on the way; what the engine reads at the descriptor's address
  // is the file opened, once its name leads to another; and a page holds only so many files.
  const wine_extractor::PageFile four = wine_extractor::OpenPageFile(base + "/docs/four");
  ASSERT_TRUE(four.file);
  Shell("cd '" + base + "/docs' && mv four four.old && echo swapped >four");
  EXPECT_EQ(Slurp(wine_extractor::DescriptorUrl(four.file.Get()).substr(strlen("file://"))), "1234");
  EXPECT_EQ(wine_extractor::OpenPageFile(base + "/docs-link/four").rule, wine_extractor::Rule::kNotRegular) << "a link on the way";
  EXPECT_EQ(wine_extractor::OpenPageFile(base + "/docs").rule, wine_extractor::Rule::kNotRegular) << "a folder";
  const std::optional<wine_extractor::PageScope> sub =
      wine_extractor::ScopeOfPage(base + "/docs/sub/page.html", wine_extractor::RealPath);
  EXPECT_EQ(Answered(wine_extractor::FileUrl(base + "/docs/sub/a.css"), *sub, "Image", wine_extractor::kMaxOpenFiles),
            "more files than one page may open");
  Shell("rm -rf '" + base + "'");
}

// The rest of a page's answers: a frame's later document, inline content, the network, no page yet;
// and the few refusals a page keeps, which reach the extractor on lines of their own.
TEST(RequestAnswer, AnswersEveryRequestAndKeepsAFewRefusals) {
  const std::optional<wine_extractor::PageScope> scope = wine_extractor::ScopeOfPage("/etc/hostname", wine_extractor::RealPath);
  ASSERT_TRUE(scope);
  std::set<std::string> frames;
  auto reply = [&](const std::string& type, const std::string& url) {
    return wine_extractor::AnswerRequest(*wine_extractor::JsonValue::Parse(
        R"({"requestId":"r","frameId":"f","resourceType":")" + type + R"(","request":{"url":")" + url + "\"}}"),
        *scope, frames, 0);
  };
  EXPECT_EQ(reply("Document", "file:///etc/hostname").method, "Fetch.continueRequest");
  EXPECT_EQ(reply("Document", "file:///etc/hostname").params, R"({"requestId":"r","responseCode":204})");
  EXPECT_EQ(reply("Image", "data:image/png;base64,AAAA").method, "Fetch.continueRequest");
  for (const char* url : {"http://127.0.0.1/a.css", "https://example.invalid/", "about:blank", "file://host/a.css"})
    EXPECT_EQ(reply("Stylesheet", url).refusal->rule, "the network") << url;
  EXPECT_EQ(Answered("file:///etc/hostname", wine_extractor::PageScope{}, "Image"), "a document from outside the page's folder")
      << "no page yet";
  wine_extractor::RefusalLog log;
  for (int i = 0; i < 7; ++i) log.Add({"Image", "file:///" + std::to_string(i), "a hidden folder"});
  wine_extractor::PageStatus status{0, "", {}};
  log.AddTo(status.refused);
  const std::optional<wine_extractor::PageStatus> back = wine_extractor::ParseStatus(wine_extractor::FormatStatus(status));
  ASSERT_TRUE(back);
  ASSERT_EQ(back->refused.listed.size(), wine_extractor::kMaxRefusedLines);
  EXPECT_EQ(back->refused.listed[4].url, "file:///4");
  EXPECT_EQ(back->refused.listed[4].rule, "a hidden folder");
  EXPECT_EQ(back->refused.more, 2u);
}

TEST(PageStatus, KeepsEveryFieldOnItsLineAndTheFileSmall) {
  const std::string japanese = "\xE6\x97\xA5";
  wine_extractor::PageStatus status{4, "the engine said: a\nb" + std::string(5000, 'x'), {}};
  for (int i = 0; i < 7; ++i) status.refused.listed.push_back({"Stylesheet", "a hidden folder", "file:///a\tb" + std::to_string(i)});
  status.refused.listed[0].url = "file:///";
  for (int i = 0; i < 300; ++i) status.refused.listed[0].url += japanese;
  status.refused.more = 10;
  const std::string text = wine_extractor::FormatStatus(status);
  EXPECT_LE(text.size(), wine_extractor::kMaxStatusBytes);
  const std::optional<wine_extractor::PageStatus> back = wine_extractor::ParseStatus(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->code, 4);
  EXPECT_EQ(back->reason.substr(0, 20), "the engine said: a?b");
  EXPECT_EQ(back->reason.size(), wine_extractor::kMaxReasonBytes);
  ASSERT_EQ(back->refused.listed.size(), wine_extractor::kMaxRefusedLines);
  const std::string& cut = back->refused.listed[0].url;
  EXPECT_LE(cut.size(), wine_extractor::kMaxRefusedUrlBytes);
  EXPECT_EQ(cut.substr(cut.size() - 3), "...");
  EXPECT_EQ((cut.size() - 3 - 8) % 3, 0u) << "a character cut in half";
  EXPECT_EQ(back->refused.listed[1].url, "file:///a?b1");
  EXPECT_EQ(back->refused.more, 12u);
  EXPECT_EQ(wine_extractor::FormatStatus({0, "", {}}), "0\n");
  EXPECT_EQ(wine_extractor::ParseStatus("3 no load\nrefused\tImage\nmore\tmany\n")->refused.listed.size(), 0u);
  for (const char* broken : {"", "\n", " 0", "x 1", "-1", "256", "99999999999999999999"})
    EXPECT_FALSE(wine_extractor::ParseStatus(broken)) << broken;
}

// Where each job stands: read back as written, a name that would break its line left out, the file
// bounded, and nothing taken from a text that does not name its writer or a line cut short.
TEST(QueueReport, ReadsBackWhereEachJobStands) {
  using wine_extractor::JobStage;
  wine_extractor::QueueReport report{{4242, 987654}, 7, {{"a1", JobStage::kDrawing}, {"b 2", JobStage::kWaiting},
                                                          {"c3", JobStage::kWaiting, 3}, {"d4", JobStage::kAnswered}}};
  EXPECT_EQ(wine_extractor::FormatQueue(report), "4242 987654 7\na1 drawing\nc3 waiting 3\nd4 answered\n");
  struct Case { const char* text; const char* read; };
  const Case cases[] = {
      {"1 2 3\nx waiting 0\ny drawing\nz answered\n", "1 2 3|x w0|y d|z a"},
      {"1 2 3\nx waiting\ny drawing 4\nz late\nw waiting -1\nv waiting 5", "1 2 3"},
      {"1 2 3", "1 2 3"},
      {"", "none"}, {"1 2\n", "none"}, {"0 2 3\n", "none"}, {"1 2 x\n", "none"}, {"1 2 3 4\n", "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<wine_extractor::QueueReport> back = wine_extractor::ParseQueue(c.text);
    std::string read = back ? std::to_string(back->service.pid) + " " + std::to_string(back->service.start) + " " +
                              std::to_string(back->beat) : "none";
    for (const wine_extractor::JobPlace& job : back ? back->jobs : report.jobs)
      if (back) read += "|" + job.id + " " + "wda"[int(job.stage)] + (job.stage == JobStage::kWaiting ? std::to_string(job.ahead) : "");
    EXPECT_EQ(read, c.read);
  }
  for (int i = 0; i < 5000; ++i) report.jobs.push_back({std::string(24, 'f') + std::to_string(i), JobStage::kWaiting, uint32_t(i)});
  const std::string text = wine_extractor::FormatQueue(report);
  EXPECT_LE(text.size(), wine_extractor::kMaxQueueBytes);
  EXPECT_EQ(wine_extractor::ParseQueue(text)->jobs.size(), size_t(std::count(text.begin(), text.end(), '\n') - 1));
}

TEST(PageJob, GoesToTheServiceAndBackWhateverThePath) {
  // A path of bytes that are no UTF-8 comes back as it went.
  for (const char* path : {"/p\xE6\x97\xA5/a\n\"b\\c.html", "/p\xFF\xC3(/\xE9t\xE9.html"}) {
    const wine_extractor::PageJob other{path, 333, 222, 20000, 2048, true};
    const std::optional<wine_extractor::PageJob> back = wine_extractor::ParseJob(wine_extractor::FormatJob(other));
    ASSERT_TRUE(back) << path;
    EXPECT_EQ(back->page, other.page);
  }
  const wine_extractor::PageJob job{"/p\xE6\x97\xA5/a\n\"b\\c.html", 333, 222, 20000, 2048, true};
  const std::optional<wine_extractor::PageJob> back = wine_extractor::ParseJob(wine_extractor::FormatJob(job));
  ASSERT_TRUE(back);
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
// answered by a status, an engine that breaks fails its own pages alone, pages drawn side by side get
// their own rules, and the idle end leaves nothing behind.
class PageService : public testing::Test {
 protected:
  void SetUp() override {
    base_ = TempTree("mkdir -m 700 run run/zelnar run/zelnar/spool && mkdir secret && echo '<p>page' >page.html && "
                     "echo secret >secret/doc.html", true);
    ASSERT_FALSE(base_.empty());
    spool_ = base_ + "/run/zelnar/spool";
  }
  void TearDown() override { Shell("rm -rf '" + base_ + "'"); }

  // The service with the fake engine in `mode`, drawing `parallel` pages at once and idle for
  // `idleMs` before it ends; with `memoryMb`, the address space it may hold.
  pid_t Start(const std::string& mode, rlim_t memoryMb = 0, int parallel = 1, const char* idleMs = "300") {
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("XDG_RUNTIME_DIR", (base_ + "/run").c_str(), 1);
      setenv("HOME", base_.c_str(), 1);  // should the runtime folder fail, never the tester's home
      setenv("ZELNAR_BROWSER_PARALLEL", std::to_string(parallel).c_str(), 1);
      const rlimit limit{memoryMb << 20, memoryMb << 20};
      if (memoryMb) setrlimit(RLIMIT_AS, &limit);
      execl(ZELNAR_PAGE_DRIVER, ZELNAR_PAGE_DRIVER, "--serve", "spool", ZELNAR_FAKE_ENGINES "/engine", idleMs, "",
            ("--mode=" + mode).c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  // Hands in a page (a path under the test's folder) as the extractor does. A time limit no busy
  // machine reaches, unless one is asked for: each case ends the page by itself.
  void Submit(const std::string& id, const std::string& page = "page.html", uint32_t limitMs = 30000) {
    const std::string spool = spool_ + "/" + id;
    const std::string job = wine_extractor::FormatJob({base_ + "/" + page, 64, 48, limitMs, 2048, false});
    std::ofstream(spool + ".alive");
    std::ofstream(spool + ".part", std::ios::binary) << job;
    rename((spool + ".part").c_str(), (spool + ".job").c_str());
  }

  // Waits for the statuses of `ids`, keeping their host's sign of life; each as it came.
  std::vector<std::string> Wait(const std::vector<std::string>& ids) {
    std::vector<std::string> statuses(ids.size());
    for (int i = 0; i < 8000; ++i) {
      bool all = true;
      for (size_t n = 0; n < ids.size(); ++n) {
        const std::string spool = spool_ + "/" + ids[n];
        if (statuses[n].empty() && Exists(spool + ".status")) statuses[n] = Slurp(spool + ".status");
        if (statuses[n].empty() && !Exists(spool + ".alive")) std::ofstream(spool + ".alive");
        all = all && !statuses[n].empty();
      }
      // Where the service said each page stood.
      if (const auto report = wine_extractor::ParseQueue(Slurp(spool_ + "/queue")))
        for (const wine_extractor::JobPlace& job : report->jobs)
          reported_.insert(job.id + (job.stage == wine_extractor::JobStage::kWaiting ? " waiting " + std::to_string(job.ahead)
                                     : job.stage == wine_extractor::JobStage::kDrawing ? " drawing" : " answered"));
      if (all) return statuses;
      usleep(5000);
    }
    for (std::string& status : statuses)
      if (status.empty()) status = "no status";
    return statuses;
  }
  std::string Serve(const std::string& id, const std::string& page = "page.html") {
    Submit(id, page);
    return Wait({id})[0];
  }
  // What the fake engine drew for a page: how its requests were answered.
  std::string Drawn(const std::string& id) {
    const std::string picture = Slurp(spool_ + "/" + id + ".png");
    return picture.size() >= 8 && picture.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 ? picture.substr(8) : "no picture";
  }

  // The peak resident memory of process `pid` so far, in MB.
  static int64_t PeakMb(pid_t pid) {
    std::istringstream status(Slurp("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) >> 10;
    return -1;
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

  void ExpectIdleEnd(pid_t service) {
    Shell("cd '" + spool_ + "' && rm -f *.png *.status *.alive");
    // Idle, it ends its engine and takes its folder away.
    EXPECT_EQ(Ended(service, 10000), 0);
    EXPECT_FALSE(Exists(spool_));
    EXPECT_EQ(Shell("ls -A '" + base_ + "/run/zelnar'"), "") << "left in the meeting folder";
    EXPECT_EQ(Engines(), "0\n");
    mkdir(spool_.c_str(), 0700);
  }

  // This test's fake engine processes (the service names it on its own command line too; other runs of
  // the test have other temporary folders).
  std::string Engines() {
    return Shell("for p in $(pgrep -f '^/usr/bin/python3 " ZELNAR_FAKE_ENGINES "/engin[e]'); do grep -qsF "
                 "'ZELNAR_BROWSER_RUN=" + spool_ + "' /proc/$p/environ && echo $p; done | wc -l");
  }

  std::string base_, spool_;
  std::set<std::string> reported_;  // "ID STAGE [AHEAD]" as the service's queue report said it
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
                        Case{"dies-during", "4 the engine ended"},
                        // Found at once, not at the page's time limit.
                        Case{"stops-during", "4 the engine was stopped"},
                        // The browser, not the script that starts it, is watched.
                        Case{"launched-stops-during", "4 the engine was stopped"},
                        // Asleep: neither running nor using a processor nor sending anything.
                        Case{"asleep-during", "4 the engine stopped answering: it did nothing for"},
                        // Busy, however long it does not answer: never taken for dead.
                        Case{"busy-during", "0\n"},
                        Case{"refuses-answers", "4 the engine refused the answer to a request of the page: Invalid state"},
                        // The next page gets a context of its own, not the one whose renderer crashed.
                        Case{"ahead-dies", "0\n"},
                        Case{"huge-once", "4 the driver failed: std::bad_alloc", "0\n", 256}}) {
    SCOPED_TRACE(c.mode);
    const pid_t service = Start(c.mode, c.memoryMb);
    for (const char* id : {"first", "second"}) {
      const char* expected = id[0] == 's' && c.next ? c.next : c.status;
      const std::string status = Serve(id);
      EXPECT_EQ(status.rfind(expected, 0), 0u) << id << ": " << status;
      EXPECT_EQ(Exists(spool_ + "/" + id + ".png"), expected[0] == '0') << id;
      EXPECT_FALSE(Exists(spool_ + "/" + id + ".run")) << id;
    }
    if (c.mode == std::string("draws")) {
      EXPECT_EQ(Drawn("first"), "shown page.html");
      // A second service for the same spool leaves it to the first and returns at once.
      EXPECT_EQ(Ended(Start(c.mode), 3000), 0);
      EXPECT_EQ(kill(service, 0), 0);
    }
    ExpectIdleEnd(service);
  }
}

// Pages drawn at once, each under its own rules, whatever the pages beside it do; the service never
// stalls on one page's answer nor spins on a job it cannot take.
TEST_F(PageService, GivesEachPageItsOwnRulesAndFailureSideBySide) {
  Shell("cd '" + base_ + "' && for d in b f1 f2 f3 f4 s n; do mkdir $d; done && for n in 1 2 3; do echo x >b/frame$n.html; done"
        " && for d in f1 f2 f3 f4 s n; do echo x >$d/page.html; done && echo x >n/frame.html && echo x >s/slow.html"
        " && head -c 31000000 /dev/zero | tr '\\0' x >n/big.html && mkdir h10 h40"
        " && for n in $(seq 10 49); do truncate -s 30M h40/picture$n.png; done && echo x >h40/pictures.html"
        " && for n in $(seq 10 19); do ln h40/picture$n.png h10/picture$n.png; done && echo x >h10/pictures.html");
  struct Page {
    const char* id;
    const char* page;
    const char* status;
    const char* drawn = "";  // how its requests were answered, for a picture
    uint32_t limitMs = 30000;
  };
  struct Case {
    const char* what;
    int parallel;
    std::vector<Page> pages;
    bool serially = false;  // one after the other, not at once
    const char* engine = "draws";
    std::vector<std::string> reported = {};  // where the service said pages stood, among what it said
  };
  // Pages of 10 and 40 pictures of 30 MB, each picture shown.
  std::string ten = "shown pictures.html", forty = ten;
  for (int n = 10; n < 50; ++n) {
    if (n < 20) ten += " shown picture" + std::to_string(n) + ".png";
    forty += " shown picture" + std::to_string(n) + ".png";
  }
  const Case cases[] = {
      {"a burst of pages of one folder, each with a frame from outside", 3,
       {{"b1", "b/frame1.html", "0\n", "shown frame1.html refused doc.html"},
        {"b2", "b/frame2.html", "0\n", "shown frame2.html refused doc.html"},
        {"b3", "b/frame3.html", "0\n", "shown frame3.html refused doc.html"}}},
      {"pages of four folders", 4,
       {{"p1", "f1/page.html", "0\n", "shown page.html"}, {"p2", "f2/page.html", "0\n", "shown page.html"},
        {"p3", "f3/page.html", "0\n", "shown page.html"}, {"p4", "f4/page.html", "0\n", "shown page.html"}}},
      {"a page beside a slow page of another folder", 2,
       {{"slow", "s/slow.html", "124 the page took longer than its time limit", "", 1500},
        {"near", "n/frame.html", "0\n", "shown frame.html refused doc.html"}}},
      {"the context made ahead meets the next page", 2,
       {{"one", "f1/page.html", "0\n", "shown page.html"}, {"two", "n/frame.html", "0\n", "shown frame.html refused doc.html"}},
       true},
      // Its 31 MB file is read slowly: meanwhile the other page's limit goes on.
      {"a page beside one whose answer is large", 2,
       {{"big", "n/big.html", "0\n", "shown big.html"},
        {"late", "s/slow.html", "124 the page took longer than its time limit", "", 1000}}},
      {"a page of 10 pictures of 30 MB", 1, {{"ten", "h10/pictures.html", "0\n", ten.c_str()}}},
      {"a page of 40 pictures of 30 MB beside another host's pages", 2,
       {{"forty", "h40/pictures.html", "0\n", forty.c_str()}, {"p1", "f1/page.html", "0\n", "shown page.html"},
        {"p2", "f2/page.html", "0\n", "shown page.html"}}},
      // Frames asked of several pages at once end such an engine.
      {"four slots, an engine that draws one frame at a time", 4,
       {{"p1", "f1/page.html", "0\n", "shown page.html"}, {"p2", "f2/page.html", "0\n", "shown page.html"},
        {"p3", "f3/page.html", "0\n", "shown page.html"}, {"p4", "f4/page.html", "0\n", "shown page.html"},
        {"p5", "f1/page.html", "0\n", "shown page.html"}, {"p6", "f2/page.html", "0\n", "shown page.html"}},
       false, "one-frame"},
      {"pages waiting behind a slow page, each told where it stands", 1,
       {{"slow", "s/slow.html", "124 the page took longer than its time limit", "", 1500},
        {"w1", "f1/page.html", "0\n", "shown page.html"}, {"w2", "f2/page.html", "0\n", "shown page.html"}},
       false, "draws", {"slow drawing", "w1 waiting 0", "w2 waiting 1", "w1 answered"}},
      {"a job that cannot be taken, a page that is not there", 1,
       {{"stuck", "page.html", "4 the service cannot take the page's job"}, {"gone", "nowhere/page.html", "3 the page cannot be found"},
        {"after", "page.html", "0\n", "shown page.html"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const pid_t service = Start(c.engine, 0, c.parallel);
    std::vector<std::string> ids;
    std::vector<std::string> statuses;
    for (const Page& page : c.pages) {
      ids.push_back(page.id);
      if (ids.back() == "stuck") Shell("mkdir -p '" + spool_ + "/stuck.run/x'");
      Submit(page.id, page.page, page.limitMs);
      if (c.serially) statuses.push_back(Wait({page.id})[0]);
    }
    reported_.clear();
    if (!c.serially) statuses = Wait(ids);
    for (const std::string& place : c.reported) EXPECT_EQ(reported_.count(place), 1u) << place;
    // No page's files pass through the service: its memory stays small whatever the pages load.
    EXPECT_LT(PeakMb(service), 64) << "the service's peak resident memory";
    for (size_t n = 0; n < ids.size(); ++n) {
      SCOPED_TRACE(ids[n]);
      EXPECT_EQ(statuses[n].rfind(c.pages[n].status, 0), 0u) << statuses[n];
      if (c.pages[n].status[0] == '0') EXPECT_EQ(Drawn(ids[n]), c.pages[n].drawn);
    }
    EXPECT_EQ(kill(service, 0), 0) << "the service ended";
    Shell("rm -rf '" + spool_ + "/stuck.run'");
    ExpectIdleEnd(service);
  }
}

// Without an idle time (a host that keeps no engine running): the service waits for the page of
// the host that started it, whose sign of life is there first, keeps no engine while no page
// waits, and ends as soon as the page's files are gone. A service killed outright takes its engine
// along, whatever the engine does, and the next one removes what it left.
TEST_F(PageService, EndsAtOnceWithoutIdleTimeAndTakesItsEngineAlongWhenKilled) {
  std::ofstream(spool_ + "/first.alive");
  pid_t service = Start("draws", 0, 1, "0");
  usleep(300000);
  EXPECT_EQ(kill(service, 0), 0) << "it ended before the page came";
  EXPECT_EQ(Engines(), "0\n") << "an engine made ahead";
  EXPECT_EQ(Serve("first"), "0\n");
  // Its engine goes while the page's files are still there, the service with them only.
  std::string engines;
  for (int i = 0; i < 600 && (engines = Engines()) != "0\n"; ++i) usleep(50000);
  EXPECT_EQ(engines, "0\n") << "the engine outlived its page";
  EXPECT_EQ(kill(service, 0), 0) << "the service ended before its host collected the answer";
  for (const char* suffix : {".png", ".status", ".alive"}) unlink((spool_ + "/first" + suffix).c_str());
  EXPECT_EQ(Ended(service, 3000), 0);
  EXPECT_FALSE(Exists(spool_));

  mkdir(spool_.c_str(), 0700);
  service = Start("never-loads");
  Submit("stuck");
  for (int i = 0; i < 200 && Engines() == "0\n"; ++i) usleep(20000);
  ASSERT_NE(Engines(), "0\n");
  kill(service, SIGKILL);
  waitpid(service, nullptr, 0);
  std::string left;
  for (int i = 0; i < 60 && (left = Engines()) != "0\n"; ++i) usleep(50000);
  EXPECT_EQ(left, "0\n") << "engine processes outlived their service by 3 s";
  // What the killed one left (its engine's scratch folder, its taken job) goes with the next one.
  service = Start("draws");
  EXPECT_EQ(Serve("after"), "0\n");
  ExpectIdleEnd(service);
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
  // Where the bounds lie: 65 containers deep, and the size refused unread (the pages are not readable).
  EXPECT_TRUE(wine_extractor::JsonValue::Parse(std::string(65, '[') + std::string(65, ']')));
  EXPECT_FALSE(wine_extractor::JsonValue::Parse(std::string(66, '[') + std::string(66, ']')));
  const size_t huge = wine_extractor::kMaxJsonBytes + 1;
  void* unreadable = mmap(nullptr, huge, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(unreadable, MAP_FAILED);
  EXPECT_FALSE(wine_extractor::JsonValue::Parse(std::string_view(static_cast<const char*>(unreadable), huge)));
  munmap(unreadable, huge);
  // What JSON allows and a second reading takes: numbers beyond 64 bits or a double; a later name
  // given twice wins; an escaped backslash before "u" is no escape; bytes past a padded text are not read.
  EXPECT_EQ(wine_extractor::JsonValue::Parse("123456789012345678901234567890")->Number(), 1.2345678901234568e29);
  EXPECT_EQ(wine_extractor::JsonValue::Parse("-1e999")->Number(), -DBL_MAX);
  EXPECT_EQ((*wine_extractor::JsonValue::Parse(R"({"a":1,"a":[2,"\ud800"]})"))["a"].GetKind(),
            wine_extractor::JsonValue::Kind::Array);
  EXPECT_EQ(wine_extractor::JsonValue::Parse(R"("\\ud800\ud800")")->Text(), "\\ud800\xEF\xBF\xBD");
  const std::string padded = R"({"id":7})" + std::string(wine_extractor::kJsonPadding, '{');
  EXPECT_EQ((*wine_extractor::JsonValue::Parse(std::string_view(padded.data(), 8), true))["id"].Whole(), 7);
  for (const char* still : {"[01,1e999]", R"(["\ud800",-])", R"(["\ud800"] 1)", "\"\xFF\""}) {
    SCOPED_TRACE(still);
    EXPECT_FALSE(wine_extractor::JsonValue::Parse(still));
  }
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
