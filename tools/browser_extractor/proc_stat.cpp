#include "tools/browser_extractor/proc_stat.h"

#include <cstdlib>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace browser {
namespace {

bool ReadNumber(const std::string& text, size_t& at, uint64_t& value) {
  const size_t begin = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') value = value * 10 + uint64_t(text[at++] - '0');
  return at > begin && at - begin <= 19;
}

}  // namespace

std::optional<ProcStat> ParseProcStat(const std::string& line) {
  size_t at = 0;
  uint64_t pid = 0;
  if (!ReadNumber(line, at, pid) || pid == 0 || pid > UINT32_MAX) return std::nullopt;
  const size_t close = line.rfind(')');
  if (close == std::string::npos || close < at) return std::nullopt;
  // After the name: fields 3 (state) to 24 (rss), one space before each.
  std::vector<std::string> fields;
  for (size_t i = close + 1; i < line.size() && fields.size() < 22;) {
    if (line[i] != ' ') return std::nullopt;
    const size_t next = line.find_first_of(" \n", i + 1);
    fields.push_back(line.substr(i + 1, (next == std::string::npos ? line.size() : next) - i - 1));
    if (next == std::string::npos || line[next] == '\n') break;
    i = next;
  }
  if (fields.size() < 22) return std::nullopt;
  ProcStat stat;
  stat.identity.pid = uint32_t(pid);
  if (fields[0].size() != 1) return std::nullopt;
  stat.state = fields[0][0];
  uint64_t group = 0;
  size_t p = 0;
  if (!ReadNumber(fields[2], p, group) || p != fields[2].size()) return std::nullopt;  // field 5
  p = 0;
  if (!ReadNumber(fields[19], p, stat.identity.start) || p != fields[19].size()) return std::nullopt;  // 22
  p = 0;
  if (!ReadNumber(fields[21], p, stat.residentPages) || p != fields[21].size()) return std::nullopt;  // 24
  stat.group = int64_t(group);
  return stat;
}

std::optional<ProcessIdentity> ParseIdentity(const std::string& text) {
  size_t at = 0;
  uint64_t pid = 0, start = 0;
  if (!ReadNumber(text, at, pid) || at >= text.size() || text[at++] != ' ' || !ReadNumber(text, at, start) ||
      at != text.size() || pid == 0 || pid > UINT32_MAX)
    return std::nullopt;
  return ProcessIdentity{uint32_t(pid), start};
}

#ifndef _WIN32
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

uint64_t GroupResidentBytes(int64_t group) {
  static const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  uint64_t pages = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::optional<ProcStat> stat = ReadProcStat(entry->d_name);
    if (stat && stat->group == group) pages += stat->residentPages;
  }
  closedir(proc);
  return pages * pageSize;
}

std::optional<std::pair<uint32_t, uint64_t>> LargestInGroup(int64_t group, int64_t except) {
  static const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  std::optional<std::pair<uint32_t, uint64_t>> largest;
  DIR* proc = opendir("/proc");
  if (!proc) return largest;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::optional<ProcStat> stat = ReadProcStat(entry->d_name);
    if (!stat || stat->group != group || int64_t(stat->identity.pid) == except) continue;
    if (!largest || stat->residentPages * pageSize > largest->second)
      largest = std::make_pair(stat->identity.pid, stat->residentPages * pageSize);
  }
  closedir(proc);
  return largest;
}
#endif

}  // namespace browser
