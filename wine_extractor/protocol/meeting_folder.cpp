#include "wine_extractor/protocol/meeting_folder.h"

#include <cstdio>

namespace wine_extractor {
namespace {

bool Absolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// `path` without trailing slashes (the root stays "/").
std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::optional<std::vector<std::string>> Components(const std::string& path) {
  std::vector<std::string> names;
  for (size_t at = 0; at <= path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(at, end - at);
    if (name == "..") return std::nullopt;
    if (!name.empty() && name != ".") names.push_back(name);
    at = end + 1;
  }
  return names;
}

std::string FolderWay::StepPath(size_t step) const {
  std::string path = base == "/" ? "" : base;
  for (size_t i = 0; i <= step && i < steps.size(); ++i) path += "/" + steps[i];
  return path;
}

std::string FolderWay::Path() const { return StepPath(steps.size() - 1); }

std::optional<FolderWay> RuntimeWay(const std::string& runtimeDir) {
  if (!Absolute(runtimeDir) || !Components(runtimeDir)) return std::nullopt;
  return FolderWay{Trimmed(runtimeDir), {kMeetingName}};
}

std::optional<FolderWay> CacheWay(const std::string& cacheHome, const std::string& home) {
  const bool ownCache = Absolute(cacheHome) && Components(cacheHome);
  if (!ownCache && !(Absolute(home) && Components(home))) return std::nullopt;
  const std::string cache = ownCache ? Trimmed(cacheHome) : Trimmed(home) + "/.cache";
  FolderWay way;
  const std::string top = Absolute(home) ? Trimmed(home) : std::string();
  const std::string under = top == "/" ? "/" : top + "/";
  if (!top.empty() && Components(top) && cache.compare(0, under.size(), under) == 0) {
    way.base = top;
    way.baseIsHome = true;
    way.steps = *Components(cache.substr(under.size()));
  } else {
    way.base = cache;
  }
  way.steps.push_back(kMeetingName);
  return way;
}

std::string WhatIsWrong(const FolderFacts& facts, bool isPrivate) {
  if (!facts.exists) return "does not exist";
  if (facts.link) return "is a link";
  if (!facts.folder) return "is not a folder";
  const bool trustedOwner = isPrivate ? !facts.ours || *facts.ours
                                      : !facts.ours || *facts.ours || (facts.byRoot && *facts.byRoot);
  if (!trustedOwner) return "belongs to another account";
  if (!facts.mode) return "";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", unsigned(*facts.mode & 07777));
  if (isPrivate && (*facts.mode & 07777) != 0700)
    return std::string("may be opened by others (mode ") + mode + ", not 0700)";
  if (!isPrivate && (*facts.mode & 0002) != 0) return std::string("may be written by others (mode ") + mode + ")";
  if (!isPrivate && (*facts.mode & 0020) != 0) return std::string("may be written by its group (mode ") + mode + ")";
  return "";
}

std::string SpoolName(const std::string& driverPath) {
  // 64-bit FNV-1a: short, and the same on both sides.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : driverPath) hash = (hash ^ c) * 1099511628211ull;
  char name[24];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
  return kSpoolPrefix + std::string(name);
}

std::optional<std::string> EnvironmentValue(const std::string& environment, const std::string& name) {
  const std::string key = name + "=";
  for (size_t at = 0; at < environment.size();) {
    size_t end = environment.find('\0', at);
    if (end == std::string::npos) end = environment.size();
    if (environment.compare(at, key.size(), key) == 0 && end - at >= key.size())
      return environment.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return std::nullopt;
}

}  // namespace wine_extractor
