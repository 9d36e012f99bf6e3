// The registry file: reading, writing back, and a writer's change.
//
// Input: the file's text; after a NUL byte, optionally, the change a writer
// makes: KEY NUL NAME NUL VALUE (a string value), with a fourth part a
// number value made of VALUE's first four bytes. Without it the change is
// the visit counter's: Counter under the extension's key, one up.
//
// Properties:
//  - what a writer writes reads back the same: parsing the written text and
//    writing it again gives the same text, and every key of the input has
//    the same values, in the same order, before and after;
//  - a writer's change reads back, and every value it did not change keeps
//    its value and its place;
//  - Update through the file writes exactly that text (or refuses and
//    leaves the file as it was), and leaves no temporary file behind.
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/registry.h"

namespace {

constexpr char kServerKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server";

struct Change {
  std::string key, name;
  RegValue value;
};

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> parts;
  for (;;) {
    std::size_t at = s.find(sep);
    parts.emplace_back(s.substr(0, at));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

// The key paths the input names: lines "[path]", read apart from the
// registry's own reader. Deletion blocks ("[-path]") name no key.
std::vector<std::string> KeyLines(std::string_view text) {
  std::vector<std::string> keys;
  for (const std::string& raw : Split(text, '\n')) {
    std::string_view line = raw;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']' && line[1] != '-')
      keys.emplace_back(line.substr(1, line.size() - 2));
  }
  return keys;
}

bool SameValue(const RegValue& a, const RegValue& b) {
  return RegNameEquals(a.name, b.name) && a.type == b.type &&
         (a.type == RegValue::Dword ? a.dword == b.dword : a.text == b.text);
}

std::string Describe(const std::vector<RegValue>& values) {
  std::string out;
  for (const auto& v : values)
    out += "[" + fuzz::Shown(v.name, 40) + "=" +
           (v.type == RegValue::Dword ? std::to_string(v.dword) : fuzz::Shown(v.text, 40)) + "]";
  return out;
}

// Values of a key without the one the change names.
std::vector<RegValue> Others(const CRegistry& reg, const std::string& key, const Change& change) {
  std::vector<RegValue> out;
  for (auto& v : reg.Values(key))
    if (!(RegNameEquals(key, change.key) && RegNameEquals(v.name, change.name))) out.push_back(v);
  return out;
}

bool SameValues(const std::vector<RegValue>& a, const std::vector<RegValue>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameValue(a[i], b[i])) return false;
  return true;
}

// A change the file format can hold: one line each, and a key that is no
// deletion block.
bool Representable(const Change& c) {
  auto oneLine = [](const std::string& s) { return s.find('\n') == std::string::npos; };
  return oneLine(c.key) && oneLine(c.name) && (c.value.type == RegValue::Dword || oneLine(c.value.text)) &&
         (c.key.empty() || c.key[0] != '-');
}

void Apply(CRegistry& reg, const Change& c) {
  if (c.value.type == RegValue::Dword) reg.SetDword(c.key, c.name, c.value.dword);
  else reg.SetString(c.key, c.name, c.value.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t nul = input.find('\0');
  std::string_view text = input.substr(0, nul);

  // Reading and writing back.
  const CRegistry first = CRegistry::Parse(text);
  const std::string written = first.Serialize();
  const CRegistry second = CRegistry::Parse(written);
  FUZZ_REQUIRE(second.Serialize() == written,
               "writing what was read back changes the text: " + fuzz::Shown(written) + " -> " +
                   fuzz::Shown(second.Serialize()));
  const std::vector<std::string> keys = KeyLines(text);
  for (const auto& key : keys)
    FUZZ_REQUIRE(SameValues(first.Values(key), second.Values(key)),
                 "key " + fuzz::Shown(key, 60) + " reads back other values: " + Describe(first.Values(key)) +
                     " -> " + Describe(second.Values(key)));

  // A writer's change.
  Change change;
  if (nul == std::string_view::npos) {
    change.key = kServerKey;
    change.name = "Counter";
    std::optional<RegValue> old = first.Value(kServerKey, "Counter");
    change.value.type = RegValue::Dword;
    change.value.dword = old && old->type == RegValue::Dword && old->dword != 0xFFFFFFFF ? old->dword + 1 : 1;
  } else {
    std::vector<std::string> parts = Split(input.substr(nul + 1), '\0');
    parts.resize(std::max<std::size_t>(parts.size(), 3));
    change.key = parts[0];
    change.name = parts[1];
    change.value.name = parts[1];
    if (parts.size() >= 4) {
      change.value.type = RegValue::Dword;
      std::memcpy(&change.value.dword, (parts[2] + std::string(4, '\0')).data(), 4);
    } else {
      change.value.text = parts[2];
    }
  }
  change.value.name = change.name;
  if (!Representable(change)) return 0;

  CRegistry changed = first;
  Apply(changed, change);
  const std::string changedText = changed.Serialize();
  const CRegistry reread = CRegistry::Parse(changedText);
  std::optional<RegValue> got = reread.Value(change.key, change.name);
  FUZZ_REQUIRE(got && SameValue(*got, change.value),
               "the changed value " + fuzz::Shown(change.name, 40) + " of " + fuzz::Shown(change.key, 60) +
                   " does not read back from " + fuzz::Shown(changedText));
  for (const auto& key : keys)
    FUZZ_REQUIRE(SameValues(Others(first, key, change), Others(reread, key, change)),
                 "a change of " + fuzz::Shown(change.name, 40) + " moves or loses values of key " +
                     fuzz::Shown(key, 60) + ": " + Describe(first.Values(key)) + " -> " +
                     Describe(reread.Values(key)));

  // The same change through the file, as the writers make it.
  static const std::string dir = fuzz::ScratchDir() + "/registry";
  static const std::string path = dir + "/registry.reg";
  std::filesystem::create_directories(dir);
  fuzz::WriteFileBytes(path, text);
  bool updated = CRegistry::Update(path, [&change](CRegistry& reg) { Apply(reg, change); });
  std::string onDisk = fuzz::ReadFileBytes(path);
  if (updated)
    FUZZ_REQUIRE(onDisk == changedText, "Update wrote " + fuzz::Shown(onDisk) + ", not " + fuzz::Shown(changedText));
  else
    FUZZ_REQUIRE(onDisk == text, "a refused Update changed the file");
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    FUZZ_REQUIRE(name == "registry.reg" || name == "registry.reg.lock", "Update left " + name + " behind");
  }
  return 0;
}
