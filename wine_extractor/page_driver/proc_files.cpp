#include "wine_extractor/page_driver/proc_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "wine_extractor/page_driver/unique_fd.h"

namespace wine_extractor {
namespace {

// The whole small file, or none.
std::optional<std::string> ReadSmallFile(const std::string& unixPath) {
  const int fd = open(unixPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  const ssize_t read = ::read(fd, buffer, sizeof buffer);
  close(fd);
  if (read <= 0) return std::nullopt;
  return std::string(buffer, size_t(read));
}

}  // namespace

std::optional<ProcStat> ReadProcStat(const std::string& pid) {
  const std::optional<std::string> line = ReadSmallFile("/proc/" + pid + "/stat");
  return line ? ParseProcStat(*line) : std::nullopt;
}

std::vector<ProcStat> GroupProcesses(int64_t group) {
  std::vector<ProcStat> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::optional<ProcStat> stat = ReadProcStat(entry->d_name);
    if (stat && stat->group == group) found.push_back(*stat);
  }
  closedir(proc);
  return found;
}

std::string CommandLine(uint32_t pid) {
  UniqueFd fd(open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC));
  std::string text;
  char buffer[4096];
  ssize_t n;
  while (fd && (n = read(fd.Get(), buffer, sizeof buffer)) > 0 && text.size() < 65536) text.append(buffer, size_t(n));
  return text;
}

uint64_t GroupResidentBytes(int64_t group) {
  static const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  uint64_t pages = 0;
  for (const ProcStat& stat : GroupProcesses(group)) pages += stat.residentPages;
  return pages * pageSize;
}

std::optional<std::pair<uint32_t, uint64_t>> LargestInGroup(int64_t group, const std::vector<uint32_t>& except) {
  static const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  std::optional<std::pair<uint32_t, uint64_t>> largest;
  for (const ProcStat& stat : GroupProcesses(group)) {
    if (std::find(except.begin(), except.end(), stat.identity.pid) != except.end()) continue;
    if (!largest || stat.residentPages * pageSize > largest->second)
      largest = std::make_pair(stat.identity.pid, stat.residentPages * pageSize);
  }
  return largest;
}

}  // namespace wine_extractor
