// The registry: a text file in the registry export format, windows-1250 bytes.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Kolm\File Server\biblion]
//   "1"="/var/lib/vamu/acts.vq"
//   "Counter"=dword:0000002a
//
// Key paths and value names compare without regard to letter case; values keep
// the order of the file, which fixes the numbering of the document bases.
// Readers take a snapshot with Load; writers go through Update, which holds an
// exclusive lock on "<file>.lock" and replaces the file atomically, so
// concurrent writers (several server processes, setup) never lose a change.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"

struct RegValue {
  enum Type { String, Dword };
  std::string name;
  Type type = String;
  std::string text;  // String values
  DWORD dword = 0;   // Dword values
};

class CRegistry {
 public:
  // $VAMU_REGISTRY, else /etc/vamu/registry.reg.
  static std::string DefaultPath();

  // Reads a registry file. A missing file is an empty registry; an unreadable
  // one too, with *ok (when given) set to false. Lines that are no string or
  // number value (comments, binary values, deletion blocks, damaged lines)
  // are not read as values but kept, and Serialize writes them back in their
  // place, so that a writer never drops what the operator wrote.
  static CRegistry Load(const std::string& path, bool* ok = nullptr);
  static CRegistry Parse(std::string_view text);

  // A key exists when it, or a key below it, is in the file.
  bool HasKey(std::string_view key) const;
  // Values of a key in file order; empty when the key is missing.
  std::vector<RegValue> Values(std::string_view key) const;
  std::size_t CountValues(std::string_view key) const;
  std::optional<RegValue> Value(std::string_view key, std::string_view name) const;

  // Changes in memory (creating the key); Update writes them.
  void SetString(std::string_view key, std::string_view name, std::string_view text);
  void SetDword(std::string_view key, std::string_view name, DWORD value);
  void CreateKey(std::string_view key);

  std::string Serialize() const;

  // Locks, re-reads the file, applies `change` and replaces the file atomically.
  // False (errno set) when the lock, the write or the replacement fails; the
  // file is then unchanged.
  static bool Update(const std::string& path, const std::function<void(CRegistry&)>& change);

 private:
  struct Key {
    std::string path;               // "-path" for a deletion block
    std::vector<RegValue> values;
    // Lines kept as they stand, each with the number of values before it.
    std::vector<std::pair<std::size_t, std::string>> kept;
  };
  Key* FindKey(std::string_view key);
  const Key* FindKey(std::string_view key) const;
  Key& KeyFor(std::string_view key);
  void Set(std::string_view key, RegValue value);

  std::vector<Key> m_keys;
  std::vector<std::string> m_preamble;  // kept lines before the first key
};

// Case-insensitive comparison of key paths and value names (windows-1250 letters).
bool RegNameEquals(std::string_view a, std::string_view b);
