#include "portico/settings.h"

#include <sys/stat.h>

#include <memory>
#include <mutex>

#include "platform/registry.h"

namespace portico {

namespace {

// The registry file as last parsed, with what identified it on disk.
struct Snapshot {
  std::string path;
  struct stat info {};
  bool present = false;
  std::shared_ptr<const CRegistry> registry;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The current registry: parsed again when the path or the file changed.
// Writers replace the file by renaming, so a changed file always shows a new
// identity or time.
std::shared_ptr<const CRegistry> CurrentRegistry() {
  static std::mutex mutex;
  static Snapshot snapshot;
  std::string path = CRegistry::DefaultPath();
  struct stat info {};
  bool present = ::stat(path.c_str(), &info) == 0;
  std::lock_guard<std::mutex> lock(mutex);
  if (!snapshot.registry || snapshot.path != path || snapshot.present != present ||
      (present && !SameFile(snapshot.info, info))) {
    snapshot.path = path;
    snapshot.info = info;
    snapshot.present = present;
    snapshot.registry = std::make_shared<const CRegistry>(CRegistry::Load(path));
  }
  return snapshot.registry;
}

}  // namespace

std::string SettingsKey(std::string_view section) {
  std::string key = kServerKey;
  if (!section.empty()) {
    key += '\\';
    key += section;
  }
  return key;
}

std::string ReadSetting(std::string_view section, std::string_view name) {
  std::shared_ptr<const CRegistry> registry = CurrentRegistry();
  std::optional<RegValue> value = registry->Value(SettingsKey(section), name);
  if (!value || value->type != RegValue::String) return {};
  return value->text.substr(0, kMaxSetting);
}

std::optional<DWORD> ReadNumberSetting(std::string_view section, std::string_view name) {
  std::shared_ptr<const CRegistry> registry = CurrentRegistry();
  std::optional<RegValue> value = registry->Value(SettingsKey(section), name);
  if (!value) return std::nullopt;
  if (value->type == RegValue::Dword) return value->dword;
  // A decimal string: digits only, at most nine of them.
  const std::string& text = value->text;
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<DWORD>(std::stoul(text));
}

std::size_t CountSettings(std::string_view section) {
  return CurrentRegistry()->CountValues(SettingsKey(section));
}

}  // namespace portico
