#include "wine_extractor/protocol/engine_job.h"

#include "wine_extractor/protocol/page_job.h"
#include "shell_scripts.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace wine_extractor {
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

// The scripts (render.sh.in, service.sh.in) come in at build time. Every @NAME@ in them is replaced by
// one sh word (paths single-quoted), so nothing in a folder's name is ever read by the shell. The
// scripts' own comments say why each step is there.
// One pass over the template: a value is never searched for names, so a folder named "@PAGE@"
// stays a name.
std::string Fill(const char* script, std::initializer_list<std::pair<const char*, std::string>> values) {
  std::string filled;
  for (const char* at = script; *at;) {
    bool replaced = false;
    for (const auto& [name, value] : values) {
      if (*at == '@' && std::strncmp(at, name, std::strlen(name)) == 0) {
        filled += value;
        at += std::strlen(name);
        replaced = true;
        break;
      }
    }
    if (!replaced) filled += *at++;
  }
  return filled;
}

std::string Isolation() {
  std::string isolation;
  for (const char* option : kIsolation) isolation += " " + ShellQuote(option);
  return isolation;
}

}  // namespace

std::string ServiceScript(const std::string& driver, const std::string& engine, const std::string& temp,
                          uint32_t idleMs, uint32_t parallel) {
  std::string names;
  for (int i = 0; i < kSpoolNames; ++i) names += (i ? " " : "") + ShellQuote(SpoolName(i));
  return Fill(kServiceScript, {{"@TEMP@", ShellQuote(temp)},
                                 {"@NAMES@", names},
                                 {"@DRIVER@", ShellQuote(driver)},
                                 {"@ENGINE@", ShellQuote(engine)},
                                 {"@IDLE@", std::to_string(idleMs)},
                                 {"@PARALLEL@", parallel ? "ZELNAR_BROWSER_PARALLEL=" + std::to_string(parallel) + " " : ""},
                                 {"@ISOLATION@", Isolation()}});
}

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
  return Fill(kRenderScript, {{"@WORK@", ShellQuote(job.workDir)},
                                {"@WATCH@", job.watchHost ? "1" : "''"},
                                {"@DRIVER@", ShellQuote(job.driver)},
                                {"@ENGINE@", ShellQuote(job.engine)},
                                {"@PAGE@", ShellQuote(job.page)},
                                {"@WIDTH@", std::to_string(job.width)},
                                {"@HEIGHT@", std::to_string(job.height)},
                                {"@LIMIT@", TimeoutSeconds(job.timeLimitMs)},
                                {"@MEMORY@", std::to_string(job.memoryLimitMb)},
                                {"@STRICT@", job.strictFolder ? "1" : "0"},
                                {"@ISOLATION@", Isolation()}});
}

}  // namespace wine_extractor
