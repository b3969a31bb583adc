#include "wine_extractor/protocol/engine_job.h"

#include "wine_extractor/protocol/page_job.h"
#include "shell_scripts.h"

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

// The script (service.sh.in) comes in at build time. Every @NAME@ in it is replaced by one sh word
// (paths single-quoted), so nothing in a folder's name is ever read by the shell. The script's own
// comments say why each step is there. One pass over the template: a value is never searched for
// names, so a folder named "@DRIVER@" stays a name.
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

std::string ServiceScript(const std::string& driver, const std::string& engine, const std::string& spool,
                          uint32_t idleMs, const std::string& firstJob, uint32_t parallel) {
  return Fill(kServiceScript, {{"@DRIVER@", ShellQuote(driver)},
                                 {"@NAME@", ShellQuote(spool)},
                                 {"@ENGINE@", ShellQuote(engine)},
                                 {"@IDLE@", std::to_string(idleMs)},
                                 {"@FIRST@", ShellQuote(firstJob + kAliveSuffix)},
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

}  // namespace wine_extractor
