#include "wine_extractor/protocol/proc_stat.h"

#include <cstdlib>
#include <vector>

namespace wine_extractor {
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
  // Fields 4 (parent), 5 (group), 14 and 15 (user and system time), 22 (start), 24 (resident pages).
  const auto number = [&fields](size_t index, uint64_t& value) {
    size_t p = 0;
    return ReadNumber(fields[index], p, value) && p == fields[index].size();
  };
  uint64_t parent = 0, group = 0, user = 0, system = 0;
  if (!number(1, parent) || parent > UINT32_MAX || !number(2, group) || !number(11, user) || !number(12, system) ||
      !number(19, stat.identity.start) || !number(21, stat.residentPages))
    return std::nullopt;
  stat.parent = uint32_t(parent);
  stat.group = int64_t(group);
  stat.cpuTicks = user + system;
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

}  // namespace wine_extractor
