// The /proc readers on any line: nothing out of bounds, and a name in parentheses, whatever it
// holds, never shifts the fields after it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wine_extractor/protocol/proc_stat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)wine_extractor::ParseIdentity(text);
  const std::optional<wine_extractor::ProcStat> stat = wine_extractor::ParseProcStat(text);
  // The same line with the name made plain must give the same fields.
  const size_t open = text.find('('), close = text.rfind(')');
  if (stat && open != std::string::npos && close != std::string::npos && open < close) {
    const std::optional<wine_extractor::ProcStat> plain = wine_extractor::ParseProcStat(text.substr(0, open) + "(x" + text.substr(close));
    if (!plain || !(plain->identity == stat->identity) || plain->state != stat->state || plain->group != stat->group ||
        plain->residentPages != stat->residentPages)
      std::abort();
  }
  return 0;
}
