#include "setup/reg_section.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace {

constexpr unsigned long kTypeMask = 0xFFFF0001;
constexpr unsigned long kTypeString = 0x00000000;
constexpr unsigned long kTypeDword = 0x00010001;
constexpr unsigned long kKeepExisting = 0x00000002;
constexpr unsigned long kKeyOnly = 0x00000010;

std::optional<unsigned long> ParseNumber(const std::string& text) {
  // Hexadecimal with "0x", else decimal (a leading zero is no octal mark).
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = text.substr(hex ? 2 : 0);
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  for (char c : digits)
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
      return std::nullopt;
  unsigned long long n = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (n > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<unsigned long>(n);
}

bool Storable(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

}  // namespace

std::optional<RegEntry> ParseAddReg(const std::vector<std::string>& fields, std::string* why) {
  auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
  std::string root = field(0);
  if (!RegNameEquals(root, "HKLM") && !RegNameEquals(root, "HKEY_LOCAL_MACHINE")) {
    *why = "root " + root + " is not HKLM";
    return std::nullopt;
  }
  std::string subkey = field(1);
  while (!subkey.empty() && subkey.front() == '\\') subkey.erase(0, 1);
  while (!subkey.empty() && subkey.back() == '\\') subkey.pop_back();
  if (subkey.empty() || !Storable(subkey) || subkey.find_first_of("[]") != std::string::npos ||
      subkey.find("\\\\") != std::string::npos) {
    *why = "key \"" + subkey + "\" cannot be stored";
    return std::nullopt;
  }
  RegEntry e;
  e.key = "HKEY_LOCAL_MACHINE\\" + subkey;
  e.name = field(2);
  std::string flagText = field(3);
  auto flags = flagText.empty() ? std::optional<unsigned long>(0) : ParseNumber(flagText);
  if (!flags || (*flags & ~(kTypeMask | kKeepExisting | kKeyOnly)) != 0) {
    *why = "flags " + flagText + " are not supported";
    return std::nullopt;
  }
  e.keepExisting = (*flags & kKeepExisting) != 0;
  std::string value = field(4);
  if (!Storable(e.name) || !Storable(value)) {
    *why = "value " + e.name + " holds a line break";
    return std::nullopt;
  }
  if (*flags & kKeyOnly) {
    e.kind = RegEntry::KeyOnly;
  } else if ((*flags & kTypeMask) == kTypeString) {
    e.kind = RegEntry::String;
    e.text = value;
  } else if ((*flags & kTypeMask) == kTypeDword) {
    auto n = value.empty() ? std::optional<unsigned long>(0) : ParseNumber(value);
    if (!n) {
      *why = "value " + e.name + ": " + value + " is not a 32-bit number";
      return std::nullopt;
    }
    e.kind = RegEntry::Dword;
    e.dword = static_cast<DWORD>(*n);
  } else {
    *why = "value type of flags " + flagText + " is not supported";
    return std::nullopt;
  }
  return e;
}

bool InstallAddReg(const CInfFile& inf, std::string_view section, const std::string& registryFile,
                   const Report& report) {
  std::vector<RegEntry> entries;
  bool ok = true;
  for (const std::string& regSection : inf.AllFields(section, "AddReg")) {
    if (regSection.empty()) continue;
    if (!inf.HasSection(regSection)) {
      report("the information file has no registry section [" + regSection + "]");
      ok = false;
      continue;
    }
    for (const InfLine& line : inf.Lines(regSection)) {
      std::string why;
      auto entry = line.hasKey ? std::nullopt : ParseAddReg(inf.Substituted(line), &why);
      if (line.hasKey) why = "not an entry";
      if (!entry) {
        report("[" + regSection + "] line " + std::to_string(line.number) + ": " + why);
        ok = false;
        continue;
      }
      entries.push_back(std::move(*entry));
    }
  }
  if (!ok) return false;
  if (entries.empty()) return true;

  std::string why;
  if (!MakeDirectories(DirectoryOf(registryFile), &why)) {
    report("cannot write the registry file " + registryFile + ": " + why);
    return false;
  }
  auto apply = [&](CRegistry& reg) {
    for (const RegEntry& e : entries) {
      if (e.kind == RegEntry::KeyOnly) {
        reg.CreateKey(e.key);
        continue;
      }
      if (e.keepExisting && reg.Value(e.key, e.name)) continue;
      if (e.kind == RegEntry::Dword) reg.SetDword(e.key, e.name, e.dword);
      else reg.SetString(e.key, e.name, e.text);
    }
  };
  // A file that holds every entry already is not rewritten: installing
  // again leaves it, and its time, as it was.
  bool readable = true;
  CRegistry present = CRegistry::Load(registryFile, &readable);
  CRegistry wanted = present;
  apply(wanted);
  if (readable && FileExists(registryFile) && wanted.Serialize() == present.Serialize()) return true;
  bool written = CRegistry::Update(registryFile, apply);
  if (!written) {
    report("cannot write the registry file " + registryFile + ": " + std::strerror(errno));
    return false;
  }
  return true;
}
