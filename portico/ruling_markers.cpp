// Ruling markers: collecting the references of an act's rulings, their
// location keys, ranges, order and merging, and writing the act's body with
// the icons (the placing itself is in ruling_locate.cpp).
#include "portico/ruling_markers.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "biblion/srv_srv.h"
#include "platform/message_box.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/topic.h"

namespace portico {

namespace {

constexpr char kKeysTag[] = "<META KEYS=\"";
constexpr std::size_t kKeysTagLength = sizeof kKeysTag - 1;
// Numbers in keys are compared up to this value; longer digit runs saturate.
constexpr std::uint64_t kNumberCap = 1000000000000000000ull;

std::uint64_t NumberAt(std::string_view s, std::size_t& pos) {
  std::uint64_t v = 0;
  for (; pos < s.size() && IsDigit(s[pos]); ++pos)
    if (v < kNumberCap) v = v * 10 + static_cast<unsigned>(s[pos] - '0');
  return std::min(v, kNumberCap);
}

// A location key behind its kind letter, as the order sees it: numbers
// (by value) and single characters. The character behind the first number
// is a separator when a further number follows it, and the character behind
// every later number is a separator too; separators do not count.
struct Token {
  bool number;
  std::uint64_t value;  // numbers
  unsigned char c;      // characters; for numbers, their first digit
};

std::vector<Token> Tokens(std::string_view key) {
  std::vector<Token> t;
  std::size_t pos = 1;
  auto number = [&] {
    unsigned char first = static_cast<unsigned char>(key[pos]);
    t.push_back({true, NumberAt(key, pos), first});
  };
  number();
  if (pos + 1 < key.size() && IsDigit(key[pos + 1])) {
    ++pos;
    number();
  }
  while (pos < key.size()) {
    if (IsDigit(key[pos])) {
      number();
      if (pos < key.size()) ++pos;
    } else {
      t.push_back({false, 0, static_cast<unsigned char>(key[pos++])});
    }
  }
  return t;
}

int CompareTokens(const Token& a, const Token& b) {
  if (a.number && b.number) return a.value < b.value ? -1 : a.value > b.value ? 1 : 0;
  // A number against a character: its first digit decides, which places all
  // numbers between the characters below "0" and those above "9".
  return int(a.c) - int(b.c);
}

// Additive value of the roman numeral behind the kind letter (I, V, X, L).
unsigned RomanValue(std::string_view key) {
  unsigned v = 0;
  for (std::size_t i = 1; i < key.size(); ++i) {
    switch (key[i]) {
      case 'I': v += 1; break;
      case 'V': v += 5; break;
      case 'X': v += 10; break;
      case 'L': v += 50; break;
      default: return v;
    }
  }
  return v;
}

// 0: only the kind letter; 1: a number follows it; 2: a roman number (anything else).
int KeyClass(std::string_view key) {
  if (key.size() < 2) return 0;
  return IsDigit(key[1]) ? 1 : 2;
}

int CompareBytes(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

std::string ActPrefix(std::string_view storedName) {
  std::string name = UpperCased(LastComponent(storedName));
  std::size_t p = JournalLetterPosition(name);
  if (p == npos || p < 2) return {};
  return name.substr(0, p);
}

std::string LocationKey(std::string_view location) {
  if (location.empty()) return "C";
  switch (location[0]) {
    case 'O': return "A";
    case 'A':
      if (location.size() > 1 && location[1] == 'R') return "B" + std::string(location.size() > 4 ? location.substr(4) : "");
      return "B" + std::string(location.substr(1));
    default: return "C" + std::string(location.substr(1));
  }
}

void AddMarkers(std::vector<RulingMarker>& list, const std::string& key, const std::string& text) {
  std::size_t dash = key.find('-');
  std::size_t firstStart = dash;
  while (firstStart != npos && firstStart > 0 && IsDigit(key[firstStart - 1])) --firstStart;
  std::size_t lastEnd = dash == npos ? npos : dash + 1;
  while (lastEnd != npos && lastEnd < key.size() && IsDigit(key[lastEnd])) ++lastEnd;
  // Any "-" makes a range; a side without digits counts as 0 (so "B3-" adds nothing).
  if (dash == npos) {
    list.push_back({key, text});
    return;
  }
  std::size_t pos = firstStart;
  const std::uint64_t first = NumberAt(key, pos);
  pos = dash + 1;
  const std::uint64_t last = NumberAt(key, pos);
  const std::string head = key.substr(0, firstStart);
  std::string tail = key.substr(lastEnd);
  std::string closing;
  if (!tail.empty() && tail[0] == '(') {
    std::size_t close = tail.find(')');
    std::size_t cut = close == npos ? tail.size() : close + 1;
    closing = tail.substr(0, cut);
    tail.erase(0, cut);
  }
  if (last < first) return;
  if (last - first >= kMaxRangeEntries) {
    list.push_back({head + std::to_string(first) + tail, text});
    return;
  }
  for (std::uint64_t n = first; n <= last; ++n)
    list.push_back({head + std::to_string(n) + (n == last ? closing : std::string()) + tail, text});
}

void ReadReferences(std::string_view rulingText, std::string_view prefix, DWORD rulingIndex,
                    std::vector<RulingMarker>& list) {
  std::size_t tag = rulingText.find(kKeysTag);
  if (tag == npos) return;
  std::size_t start = tag + kKeysTagLength;
  std::size_t end = rulingText.find('"', start);
  if (end == npos) return;
  const std::string references = UpperCased(rulingText.substr(start, end - start));
  const std::string ruling = Decimal(rulingIndex) + "&";
  std::size_t pos = 0;
  for (std::size_t at; (at = references.find(prefix, pos)) != npos;) {
    std::size_t location = at + prefix.size() + 1;  // one separator behind the prefix
    if (location > references.size()) break;
    std::size_t equals = references.find('=', location);
    if (equals == npos) break;
    std::size_t valueEnd = references.find("\r\n", equals + 1);
    if (valueEnd == npos) valueEnd = references.size();
    std::string key = LocationKey(std::string_view(references).substr(location, equals - location));
    AddMarkers(list, key, ruling + references.substr(equals + 1, valueEnd - equals - 1));
    pos = valueEnd;
  }
}

int CompareLocationKeys(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return CompareBytes(a, b);
  if (a[0] != b[0]) return int(static_cast<unsigned char>(a[0])) - int(static_cast<unsigned char>(b[0]));
  int ca = KeyClass(a), cb = KeyClass(b);
  if (ca != cb) return ca - cb;
  if (ca == 1) {
    std::vector<Token> ta = Tokens(a), tb = Tokens(b);
    std::size_t n = std::min(ta.size(), tb.size());
    for (std::size_t i = 0; i < n; ++i)
      if (int c = CompareTokens(ta[i], tb[i])) return c;
    if (ta.size() != tb.size()) return ta.size() < tb.size() ? -1 : 1;
  } else if (ca == 2) {
    unsigned ra = RomanValue(a), rb = RomanValue(b);
    if (ra != rb) return ra < rb ? -1 : 1;
  }
  // Keys the order cannot tell apart are ordered by their bytes, so equal
  // keys always stand together and merge.
  return CompareBytes(a, b);
}

void SortAndMerge(std::vector<RulingMarker>& list) {
  std::stable_sort(list.begin(), list.end(), [](const RulingMarker& a, const RulingMarker& b) {
    return CompareLocationKeys(a.key, b.key) < 0;
  });
  std::vector<RulingMarker> merged;
  merged.reserve(list.size());
  for (RulingMarker& m : list) {
    if (!merged.empty() && merged.back().key == m.key && merged.back().text.size() < kMaxMergedText) {
      merged.back().text += '&';
      merged.back().text += m.text;
    } else {
      merged.push_back(std::move(m));
    }
  }
  list = std::move(merged);
}

namespace {

// A damaged base must cost the reader a ruling icon, never the act: what
// cannot be read is left out with a log line.
void LogLeftOut(DWORD act, const std::string& what, const char* reason) {
  MessageBox("Topic&" + Decimal(act) + ": " + what + " left out (" + (reason ? reason : "unknown exception") + ")",
             "portico");
}

// The markers of act `act` from the rulings that concern it; empty when it has none.
std::vector<RulingMarker> CollectMarkers(const CSrvSrv& catalogue, DWORD act) {
  std::vector<RulingMarker> markers;
  std::string prefix;
  std::vector<DWORD> rulings;
  try {
    FileItemPtr item(catalogue.GetItem(act));
    if (!item) return markers;
    prefix = ActPrefix(StoredName(item.get()));
    rulings = FindKeyItems(catalogue, prefix + "OO");
  } catch (const std::exception& e) {
    LogLeftOut(act, "the rulings of the act", e.what());
    return markers;
  } catch (...) {
    LogLeftOut(act, "the rulings of the act", nullptr);
    return markers;
  }
  for (DWORD ruling : rulings) {
    const char* reason = nullptr;
    std::string what;
    const std::size_t before = markers.size();
    try {
      CPageText text;
      if (!ReadItem(catalogue, ruling, kRulingReadLimit, text)) continue;
      text.CutAtZero();
      ReadReferences(text.View(), prefix, ruling, markers);
      continue;
    } catch (const std::exception& e) {
      what = e.what();
      reason = what.c_str();
    } catch (...) {
    }
    markers.resize(before);  // nothing of a ruling that failed half-way
    LogLeftOut(act, "ruling " + Decimal(ruling), reason);
  }
  return markers;
}

}  // namespace

void WriteWithRulingMarkers(const CPorticoExtension& extension, CRequest& request, const char* body,
                            std::size_t length, DWORD act) {
  std::vector<RulingMarker> markers = CollectMarkers(extension.Main(), act);
  if (markers.empty()) {
    WriteChunked(request, body, length);
    return;
  }
  SortAndMerge(markers);

  CMarkerPlacer placer(request, body, length);
  std::size_t position = 0;
  bool previousIcon = false;
  for (std::size_t j = 0; j < markers.size(); ++j) {
    std::vector<std::string> previous = placer.CurrentLocation();
    std::size_t place = placer.Locate(markers[j].key, position);
    // An entry that stayed apart from its predecessor only because the merged
    // text was full gets an icon of its own beside the predecessor's.
    const bool again = j > 0 && markers[j - 1].key == markers[j].key;
    const bool wanted = place != position || placer.CurrentLocation() != previous || (again && previousIcon);
    previousIcon = wanted;
    if (!wanted) continue;
    std::string icon = "<A TARGET=\"VAMUFOOT\" HREF=\"portico.dll?PartOr&" + markers[j].text + "\"><img src=\"" +
                       (again ? "orbmplus.gif" : "orbmp.gif") + "\" alt=\"Orzeczenia\" border=\"0\"></A>";
    request.Write(icon);
    position = place;
  }
  WriteChunked(request, body + position, length - position);
}

}  // namespace portico
