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
//
// The file is held line by line. Only the lines of values a writer changes are
// written anew; every other line (comments, binary values, deletion blocks,
// damaged lines, repeated keys, blank lines) is written back as it stood, in
// its place. A line that opens a key but is damaged (no closing bracket) opens
// no key: the lines below it up to the next key are kept and never read, so
// they can neither be taken for values of the key above nor swallow a value a
// writer adds there.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/windows_types.h"

struct RegValue {
  enum Type { String, Dword };
  std::string name;
  Type type = String;
  std::string text;  // String values
  DWORD dword = 0;   // Dword values

  // Same type and contents (names compare as RegNameEquals does).
  bool SameAs(const RegValue& other) const;
};

class CRegistry {
 public:
  // The registry file of this process: the one a host was told to use
  // (UseForThisProcess), else $VAMU_REGISTRY, else /etc/vamu/registry.reg.
  static std::string DefaultPath();
  // A host names its registry file here before it loads the extension; the
  // extension and the libraries read it through DefaultPath. One registry file
  // per process is the model (a host serves one site), so this is the one
  // process-wide setting left; it used to travel through setenv, which changed
  // the environment of every thread and of every child the process starts.
  // An empty path returns to the environment's choice.
  static void UseForThisProcess(std::string path);

  // Reads a registry file. A missing file is an empty registry; an unreadable
  // one too, with *ok (when given) set to false. Lines that are no string or
  // number value are not read as values but kept (see above).
  static CRegistry Load(const std::string& path, bool* ok = nullptr);
  static CRegistry Parse(std::string_view text);

  // A key exists when it, or a key below it, is in the file.
  bool HasKey(std::string_view key) const;
  // Values of a key in file order; empty when the key is missing. A name that
  // appears twice in a key keeps its first place and takes the last line's value,
  // as importing the file would.
  std::vector<RegValue> Values(std::string_view key) const;
  std::size_t CountValues(std::string_view key) const;
  std::optional<RegValue> Value(std::string_view key, std::string_view name) const;

  // Changes in memory (creating the key); Update writes them. Setting a value
  // to what it holds changes nothing; a new value goes behind the last value
  // of its key; a new key goes to the end.
  void SetString(std::string_view key, std::string_view name, std::string_view text);
  void SetDword(std::string_view key, std::string_view name, DWORD value);
  void CreateKey(std::string_view key);

  std::string Serialize() const;

  // True when both registries read the same: the same keys, each with the same
  // values in the same order.
  bool ReadsSameAs(const CRegistry& other) const;

  // Locks, removes temporary files that dead writers left, re-reads the file,
  // applies `change` and replaces the file atomically. False (errno set) when
  // the lock, the read, the write or the replacement fails, or when the new
  // text would not read back as the changed registry (EINVAL; logged): the
  // file is then unchanged.
  static bool Update(const std::string& path, const std::function<void(CRegistry&)>& change);

 private:
  struct Line {
    std::string text;                // the line as it stands, without its end
    int key = -1;                    // index in m_keys: a key line or a value of that key
    std::optional<RegValue> value;   // set for value lines
  };
  int FindKey(std::string_view key) const;
  int KeyIndex(std::string_view key);  // finds or names a key, adding no line
  int KeyFor(std::string_view key);    // finds a key or adds its key line at the end
  void Set(std::string_view key, RegValue value);
  // The values of every key (by index), read as Values reads them.
  std::vector<std::vector<RegValue>> AllValues() const;

  std::vector<Line> m_lines;
  std::vector<std::string> m_keys;  // keys that can be read, in the order they first appear
  std::unordered_map<std::string, int> m_keyIndex;  // FoldName(key) -> index in m_keys
};

// Case-insensitive comparison of key paths and value names (windows-1250 letters).
bool RegNameEquals(std::string_view a, std::string_view b);
// The name in capitals, so that equal names are equal strings.
std::string FoldName(std::string_view name);
