// The ways the pages and the catalogue read item names, written out for the
// tests so that the naming scheme is checked against every reader: the
// table of acts (journal, year, position of the act and of its version), the
// act prefix (rulings key, rulings list), the widened name the contents tree
// synchronises on, and the key of an ".ATT" reference.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>

namespace nametest {

struct Ref {
  int kind = 15, year = 0, position = 0;
};
inline int Kind(char c) { return c == 'D' ? 0 : c == 'M' ? 1 : c == 'O' ? 2 : 15; }

// Table of acts: letter, two characters of year, run of digits; twice.
inline void ParseName(const std::string& name, Ref& first, Ref& second) {
  std::string n = name.substr(0, name.rfind('.'));
  std::size_t i = 0;
  auto part = [&](Ref& r) {
    if (i >= n.size()) return;
    r.kind = Kind(n[i++]);
    r.year = std::atoi(n.substr(i, 2).c_str());
    i = std::min(i + 2, n.size());
    std::size_t b = i;
    while (i < n.size() && n[i] >= '0' && n[i] <= '9') ++i;
    r.position = std::atoi(n.substr(b, i - b).c_str());
  };
  part(first);
  part(second);
}

// Position of the last "D", or of the last "M" when that is below 2.
inline long LastLetter(const std::string& s) {
  long p = static_cast<long>(s.rfind('D'));
  if (p < 2) p = static_cast<long>(s.rfind('M'));
  return p;
}

inline std::string ActPrefix(const std::string& name) {
  long p = LastLetter(name);
  return p < 2 ? std::string() : name.substr(0, static_cast<std::size_t>(p));
}

// The 22-character name the tree synchronises on, from a Notes value.
inline std::string WidenedName(std::string s) {
  long p = LastLetter(s);
  if (p <= 2) return {};
  s.insert(3, p == 6 ? "00000" : "0000");
  p = LastLetter(s);
  s.insert(static_cast<std::size_t>(p) + 3, static_cast<long>(s.size()) - p == 6 ? "00000" : "0000");
  return s;
}

// The key of the reference NAME.ATT.
inline std::string AttKey(const std::string& name) {
  std::string rest = name.substr(3);
  while (rest.size() < 3) rest = "0" + rest;
  return name.substr(0, 3) + rest;
}

}  // namespace nametest
