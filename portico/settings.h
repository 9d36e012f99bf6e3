// The extension's configuration: values below the registry key
// "HKEY_LOCAL_MACHINE\Software\Kolm\Vamu Server" of the registry file
// (platform/registry.h). Pages read settings with ReadSetting; the footer and
// the visit counter of the frameset page use the other members.
//
// Keys and value names the extension reads:
//   Setup\Dir              installation directory (static pages, images)
//   Setup\CacheDir         state directory: the catalogues' cache files
//                          (default /var/cache/vamu)
//   Setup\YearPivot        two-digit years below it are 20xx, the others
//                          19xx, in the contents tree (default 50)
//   Publisher\Notice       text of the publisher footer under every document
//   Publisher\Address      address the footer links to (opened in the whole window)
//   Commercials\Commercial<n>, Counter   (footer frame and frameset pages)
//
// Threads: safe from any thread. The file is parsed again only when it
// changed on disk (size, time or file identity), so a page may read settings
// on every request.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/windows_types.h"

namespace portico {

// The extension's registry key.
constexpr const char* kServerKey = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server";

// Settings are strings of at most 199 bytes (a 200-byte field with its zero).
constexpr std::size_t kMaxSetting = 199;

// The string value `name` of the section (a key below kServerKey; empty
// section: the key itself), cut to kMaxSetting bytes. Empty when the file,
// the key or the value is missing or the value is not a string.
std::string ReadSetting(std::string_view section, std::string_view name);

// The number value `name` of the section: a dword, or a string of at most
// nine decimal digits. Nothing when it is missing or neither.
std::optional<DWORD> ReadNumberSetting(std::string_view section, std::string_view name);

// Number of values in the section; 0 when the key is missing.
std::size_t CountSettings(std::string_view section);

// The full key path of a section.
std::string SettingsKey(std::string_view section);

}  // namespace portico
