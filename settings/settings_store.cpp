// Registry persistence of the settings record. Registry calls run on local copies, never under the lock.
#include "settings/settings_store.h"

#include <utility>

#include "settings/registry_accessor.h"
#include "settings/settings_record.h"
#include "win/debug_trace.h"

namespace zelnar {
namespace {

void LoadInto(RegistryAccessor& registry) {
  if (!registry.OpenKey(kSettingsKeyPath, false)) return;

  std::string ext = ReadPatternList();
  SettingsIntegers values = ReadSettingsIntegers();

  struct Field { const char* name; int32_t* target; };
  int32_t flag1 = static_cast<int32_t>(values.flag1);
  int32_t flag2 = static_cast<int32_t>(values.flag2);
  const Field fields[] = {{"width", &values.width}, {"height", &values.height}, {"flag1", &flag1}, {"flag2", &flag2}};
  for (const Field& field : fields) {
    if (registry.ValueExists(field.name)) *field.target = registry.ReadInteger(field.name);
  }
  values.flag1 = static_cast<uint32_t>(flag1);
  values.flag2 = static_cast<uint32_t>(flag2);
  if (registry.ValueExists("ext")) ext = registry.ReadString("ext");
  registry.CloseKey();

  // Everything that can fail comes before the first store: once the integers are stored, the list
  // follows without allocating.
  PreparedPatternList list = PreparePatternList(std::move(ext));
  StoreSettingsIntegers(values);
  StorePatternList(std::move(list));
}

}  // namespace

void LoadSettings() noexcept {
  try {
    RegistryAccessor registry(KEY_READ);
    LoadInto(registry);
  } catch (...) {
    // A bad value keeps every default: nothing of this load is stored.
    const TraceScope scope(L"LoadSettings");
    TraceError(std::current_exception());
  }
  try {
    // When nothing was stored (no key, or a bad value), the defaults are compiled here rather than by the
    // host's first IsSupported.
    ReadCompiledPatternList();
  } catch (...) {
    // Out of memory: the first reader tries again.
  }
}

bool SaveSettings(int32_t width, int32_t height, uint32_t flag1, uint32_t flag2, const std::string& ext) {
  RegistryAccessor registry;
  if (!registry.OpenKey(kSettingsKeyPath, true)) return false;
  registry.WriteInteger("width", width);
  registry.WriteInteger("height", height);
  registry.WriteInteger("flag1", static_cast<int32_t>(flag1));
  registry.WriteInteger("flag2", static_cast<int32_t>(flag2));
  registry.WriteString("ext", ext);
  registry.CloseKey();
  return true;
}

}  // namespace zelnar
