#include "wine_extractor/com_server/read_settings.h"

#include <windows.h>

#include <vector>

#include "win/text_conversion.h"

namespace wine_extractor {
namespace {

// The variable as UTF-8; empty when it is unset.
std::string Variable(const wchar_t* name) {
  std::vector<wchar_t> wide(1024);
  DWORD length = GetEnvironmentVariableW(name, wide.data(), DWORD(wide.size()));
  if (length >= wide.size()) {
    wide.resize(length);
    length = GetEnvironmentVariableW(name, wide.data(), DWORD(wide.size()));
    if (length >= wide.size()) return {};
  }
  if (length == 0) return {};
  return zelnar::NarrowToUtf8(std::wstring_view(wide.data(), length));
}

}  // namespace

EngineSettings ReadEngineSettings() {
  EngineSettings settings;
  if (std::string engine = Variable(kEngineVariable); !engine.empty()) settings.engine = engine;
  settings.driver = Variable(kDriverVariable);
  settings.timeLimitMs = ParseTimeLimit(Variable(kTimeLimitVariable), kDefaultTimeLimitMs);
  settings.memoryLimitMb = ParseSetting(Variable(kMemoryLimitVariable), kMaxMemoryLimitMb, kDefaultMemoryLimitMb);
  const bool keepAlive = Variable(kKeepAliveVariable) != "0";
  settings.idleMs = keepAlive ? ParseSetting(Variable(kIdleVariable), kMaxIdleMs, kDefaultIdleMs) : 0;
  settings.strictFolder = Variable(kStrictFolderVariable) == "1";
  settings.parallel = ParseSetting(Variable(kParallelVariable), kMaxParallel, 0);
  settings.runtimeDir = Variable(kRuntimeDirVariable);
  settings.cacheHome = Variable(kCacheHomeVariable);
  return settings;
}

}  // namespace wine_extractor
