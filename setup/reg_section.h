// The registry part of an installation: the AddReg entries of an install
// section, written into the registry file in one atomic replacement. Used by
// the setup program.
//
//   [DefaultInstall]
//   AddReg = Vamu.Reg
//   [Vamu.Reg]
//   ; root, key, value name, flags, value
//   HKLM, "Software\Kolm\Vamu Server\Setup", "Dir", 0, "%SiteDir%"
//   HKLM, "Software\Kolm\Vamu Server", "Counter", 0x00010003, 0
//
// Flags: type 0 a string, 0x00010001 a 32-bit number; 0x2 keeps a value
// that is already there; 0x10 only creates the key. The system's registry
// holds HKEY_LOCAL_MACHINE alone, so HKLM is the only root.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"
#include "setup/inf_file.h"
#include "setup/install_files.h"

struct RegEntry {
  enum Kind { String, Dword, KeyOnly };
  std::string key;   // full path, "HKEY_LOCAL_MACHINE\..."
  std::string name;
  Kind kind = String;
  std::string text;
  DWORD dword = 0;
  bool keepExisting = false;
};

// One AddReg entry from its substituted fields; nothing, with the reason in
// *why, for another root, unsupported flags, a number that does not fit 32
// bits, or text that the registry file cannot hold (line breaks, brackets
// in a key).
std::optional<RegEntry> ParseAddReg(const std::vector<std::string>& fields, std::string* why);

// Writes the entries of every AddReg section of `section` into the
// registry file. All or nothing: when an entry does not parse, or the file
// cannot be written, the file is left as it was, the reasons are reported
// and the result is false.
bool InstallAddReg(const CInfFile& inf, std::string_view section, const std::string& registryFile,
                   const Report& report);
