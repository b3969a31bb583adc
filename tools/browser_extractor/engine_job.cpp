#include "tools/browser_extractor/engine_job.h"

#include "tools/browser_extractor/page_job.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

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

// The render script. Every @NAME@ is replaced by one sh word (paths single-quoted), so nothing in a
// folder's name is ever read by the shell. The script's own comments say why each step is there.
constexpr char kScriptTemplate[] = R"SH(# One page render for the zelnar browser extractor; run by it as `sh -c`, so that no script is
# ever read from a folder another account could write to.
PATH=/usr/local/bin:/usr/bin:/bin
umask 077
work=@WORK@
watch_host=@WATCH@
status=1
gone=
engine=
watch=

# Folders of earlier calls whose render is over: only real folders of this account (a link or a
# foreign entry named like ours is left alone, and what it points to never touched) whose lock no
# living render holds. A folder without a lock may be one being made this very moment: only an old
# one goes.
for old in "${work%/*}"/zelnar-browser-*; do
  [ "$old" != "$work" ] && [ ! -L "$old" ] && [ -d "$old" ] && [ -O "$old" ] || continue
  if [ -e "$old/lock" ]; then
    flock -n "$old/lock" true 2>/dev/null || continue
  elif [ -z "$(find "$old" -maxdepth 0 -mmin +1 2>/dev/null)" ]; then
    continue
  fi
  rm -rf -- "$old"
done

# The call's folder is made here, private. A name that exists already is used only when it is a
# private folder of this account, never when it is a link or another account's: then nothing is
# written and the extractor's wait fails.
mkdir -m 700 "$work" 2>/dev/null ||
  { [ ! -L "$work" ] && [ -d "$work" ] && [ -O "$work" ] && [ "$(stat -c %a "$work")" = 700 ]; } || exit 1
cd "$work" || exit 1
# Held while the render runs (its driver too): a sweep of another call, from any prefix, leaves
# the folder alone.
exec 9>lock && flock -n 9 || exit 1

# Runs on every way out, so the extractor never waits for a status that cannot come. The status is
# written last: when it is there, the engine's processes and files are gone.
finish() {
  trap - EXIT HUP INT TERM USR1
  [ -n "$watch" ] && kill "$watch" 2>/dev/null
  # timeout made the engine a process group of its own: helpers that outlive it go too.
  [ -n "$engine" ] && kill -s KILL -- "-$engine" 2>/dev/null
  rm -rf "$work/scratch"
  echo "$status" > "$work/status.part" && mv "$work/status.part" "$work/status"
  # Nobody will read it when the extractor gave up waiting or its host is gone.
  if [ -e "$work/abandoned" ] || [ -n "$gone" ]; then cd / && rm -rf "$work"; fi
  exit "$status"
}
trap finish EXIT
trap 'status=143; exit' HUP INT TERM
trap 'status=143; gone=1; exit' USR1

mkdir -p scratch/home scratch/tmp || exit

# Without a profile folder the engine keeps a fresh profile in memory, which is also faster than
# one on disk; whatever it still writes lands in the scratch folder. The marker lets the engine's
# processes be found.
export ZELNAR_BROWSER_RUN="$work" HOME="$work/scratch/home" TMPDIR="$work/scratch/tmp"
export XDG_CONFIG_HOME="$work/scratch/home/.config" XDG_CACHE_HOME="$work/scratch/home/.cache"
export ZELNAR_BROWSER_MEMORY_LIMIT_MB=@MEMORY@ ZELNAR_BROWSER_STRICT_FOLDER=@STRICT@
# The picture must not depend on the locale Wine was started in: under a Japanese one the engine's
# default sans-serif face is a monospaced Japanese one, for Latin text too.
export LANG=C.UTF-8
unset LC_ALL LANGUAGE

# The engine's sandbox cannot start as root; everyone else keeps it.
sandbox=
[ "$(id -u)" = 0 ] && sandbox=--no-sandbox

timeout -k 2 @LIMIT@ @DRIVER@ @ENGINE@ @WIDTH@ @HEIGHT@ @PAGE@ "$work/page.png" $sandbox@ISOLATION@ </dev/null >/dev/null 2>"$work/log" &
engine=$!

# A host killed mid-render cannot end the engine itself. While it waits, the extractor puts the
# file "alive" back within milliseconds whenever it is missing: take it away, and when it has not
# come back three quarters of a second later, the host is gone (a busy machine may hold a living
# host up for a moment; two seconds after its death the engine is gone). When this script was
# killed outright, the watch ends the engine's group itself.
if [ -n "$watch_host" ]; then
  ( while rm -f "$work/alive" && sleep 0.75 && [ -e "$work/alive" ]; do :; done
    kill -s USR1 $$ 2>/dev/null || kill -s KILL -- "-$engine" ) </dev/null >/dev/null 2>&1 9>&- &
  watch=$!
fi
wait "$engine"
status=$?
)SH";

// Starts the page service. Its folder is the first of the names that is ours: made here private,
// or made so earlier by this account; the service checks it again before it uses it.
constexpr char kServiceTemplate[] = R"SH(# Starts the page service of the zelnar browser extractor; run by it as `sh -c`.
PATH=/usr/local/bin:/usr/bin:/bin
umask 077
temp=@TEMP@
spool=
# A folder that vanished meanwhile (an ending service removed it) is made anew.
for name in @NAMES@; do
  if mkdir -m 700 "$temp/$name" 2>/dev/null ||
     { [ ! -L "$temp/$name" ] && [ -d "$temp/$name" ] && [ -O "$temp/$name" ] &&
       [ "$(stat -c %a "$temp/$name")" = 700 ]; } ||
     mkdir -m 700 "$temp/$name" 2>/dev/null; then
    spool=$temp/$name
    break
  fi
done
[ -n "$spool" ] || exit 1
cd "$spool" || exit 1
mkdir -p scratch/home scratch/tmp || exit 1
export ZELNAR_BROWSER_RUN="$spool" HOME="$spool/scratch/home" TMPDIR="$spool/scratch/tmp"
export XDG_CONFIG_HOME="$spool/scratch/home/.config" XDG_CACHE_HOME="$spool/scratch/home/.cache"
export LANG=C.UTF-8
unset LC_ALL LANGUAGE
sandbox=
[ "$(id -u)" = 0 ] && sandbox=--no-sandbox
# A session of its own: the service outlives the host that started it, and idles out by itself.
@PARALLEL@setsid @DRIVER@ --serve "$spool" @ENGINE@ @IDLE@ $sandbox@ISOLATION@ </dev/null >/dev/null 2>&1 &
)SH";

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
  return Fill(kServiceTemplate, {{"@TEMP@", ShellQuote(temp)},
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
  return Fill(kScriptTemplate, {{"@WORK@", ShellQuote(job.workDir)},
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

}  // namespace browser
