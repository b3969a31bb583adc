#include "tools/browser_extractor/engine_job.h"

#include <cstdio>

namespace browser {
namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// The engine's switches behind the driver's request policy, in case a request ever escapes it: every
// request for another scheme than file: goes to a proxy whose name never resolves (loopback included,
// which proxies skip by default), so nothing leaves the machine and no local service is reached.
constexpr const char* kIsolation[] = {
    "--proxy-server=http://blocked.invalid:1",
    "--proxy-bypass-list=<-loopback>",
    "--host-resolver-rules=MAP * ~NOTFOUND",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--no-first-run",
    "--no-default-browser-check",
    "--deny-permission-prompts",
};

}  // namespace

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += '\'';
  return quoted;
}

std::string FileUrl(const std::string& unixPath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : unixPath) {
    if (Unreserved(c) || c == '/') {
      url += char(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string TimeoutSeconds(uint32_t milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lu.%03lu", static_cast<unsigned long>(milliseconds / 1000),
                static_cast<unsigned long>(milliseconds % 1000));
  return text;
}

std::string RunScript(const EngineJob& job) {
  const std::string work = ShellQuote(job.workDir);
  std::string engineLine = "timeout -k 2 " + TimeoutSeconds(job.timeLimitMs) + " " + ShellQuote(job.driver) + " " +
                           ShellQuote(job.engine) + " " + std::to_string(job.width) + " " +
                           std::to_string(job.height) + " " + ShellQuote(job.page) + " \"$work/" + kPictureName +
                           "\" $sandbox";
  for (const char* option : kIsolation) engineLine += " " + ShellQuote(option);
  engineLine += " </dev/null >/dev/null 2>&1 &\n";

  return std::string(
             "# One page render for the zelnar browser extractor; written and removed by it.\n"
             "PATH=/usr/local/bin:/usr/bin:/bin\n"
             "work=") +
         work +
         "\n"
         "cd \"$work\" || exit 1\n"
         "mkdir -p scratch/home scratch/tmp\n"
         // Without a profile folder the engine keeps a fresh profile in memory, which is also faster
         // than one on disk; whatever it still writes lands in the scratch folder. The marker lets
         // the engine's processes be found.
         "export ZELNAR_BROWSER_RUN=\"$work\" HOME=\"$work/scratch/home\" TMPDIR=\"$work/scratch/tmp\"\n"
         "export XDG_CONFIG_HOME=\"$work/scratch/home/.config\" XDG_CACHE_HOME=\"$work/scratch/home/.cache\"\n"
         // The picture must not depend on the locale Wine was started in: under a Japanese one the
         // engine's default sans-serif face is a monospaced Japanese one, for Latin text too.
         "export LANG=C.UTF-8\n"
         "unset LC_ALL LANGUAGE\n"
         // The engine's sandbox cannot start as root; everyone else keeps it.
         "sandbox=\n"
         "[ \"$(id -u)\" = 0 ] && sandbox=--no-sandbox\n" +
         engineLine +
         "engine=$!\n"
         "wait \"$engine\"\n"
         "status=$?\n"
         // timeout made the engine a process group of its own: helpers that outlive it go too.
         "kill -s KILL -- \"-$engine\" 2>/dev/null\n"
         "rm -rf scratch\n"
         "echo \"$status\" > " +
         std::string(kStatusName) + ".part && mv " + kStatusName + ".part " + kStatusName +
         "\n"
         // The extractor gave up waiting: nobody else will remove the folder.
         "if [ -e " +
         kAbandonedName + " ]; then cd / && rm -rf \"$work\"; fi\n";
}

}  // namespace browser
