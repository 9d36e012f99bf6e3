#include "portico/eli_address.h"

#include "biblion/rnp.h"

namespace portico {

namespace {

constexpr int kMaxPosition = 2047;  // 11 bits of _RNP

struct Word {
  ProvisionKind kind;
  const char* word;
  const char* citation;  // windows-1250
};
constexpr Word kWords[] = {
    {ProvisionKind::kArticle, "art", "art. "},  {ProvisionKind::kParagraph, "par", "§ "},
    {ProvisionKind::kSection, "ust", "ust. "},  {ProvisionKind::kPoint, "pkt", "pkt "},
    {ProvisionKind::kLetter, "lit", "lit. "},
};

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }

// The segments of a path between "/", the first one empty for a leading "/".
std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (true) {
    std::size_t slash = path.find('/', start);
    out.push_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return out;
}

// A whole number of 1 to `digits` digits without a leading zero.
std::optional<int> Number(std::string_view s, std::size_t digits) {
  if (s.empty() || s.size() > digits || s[0] == '0') return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (!IsAsciiDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// Journal, year and position from three segments.
std::optional<ActAddress> ActOf(std::string_view journal, std::string_view year, std::string_view position) {
  std::optional<DWORD> kind = JournalOfCode(journal);
  std::optional<int> y = year.size() == 4 ? Number(year, 4) : std::nullopt;
  std::optional<int> p = Number(position, 4);
  if (!kind || !y || !p || !TwoDigitYear(*y) || *p > kMaxPosition) return std::nullopt;
  return ActAddress{*kind, *y, *p};
}

}  // namespace

int FourDigitYear(unsigned twoDigits) {
  const int yy = static_cast<int>(twoDigits % 100);
  const int century = kFirstYear - kFirstYear % 100;
  return yy >= kFirstYear % 100 ? century + yy : century + 100 + yy;
}

std::optional<unsigned> TwoDigitYear(int year) {
  if (year < kFirstYear || year > kFirstYear + 99) return std::nullopt;
  return static_cast<unsigned>(year % 100);
}

std::optional<std::string> JournalCode(DWORD kind) {
  if (kind == _RNP::kDzU) return std::string("DU");
  if (kind == _RNP::kMP) return std::string("MP");
  return std::nullopt;
}

std::optional<DWORD> JournalOfCode(std::string_view code) {
  if (code == "DU") return _RNP::kDzU;
  if (code == "MP") return _RNP::kMP;
  return std::nullopt;
}

const char* ProvisionWord(ProvisionKind kind) { return kWords[static_cast<int>(kind)].word; }

std::optional<ProvisionKind> ProvisionKindOfWord(std::string_view word) {
  for (const Word& w : kWords)
    if (word == w.word) return w.kind;
  return std::nullopt;
}

bool IsProvisionNumber(ProvisionKind kind, std::string_view n) {
  std::size_t i = 0;
  if (kind == ProvisionKind::kLetter) {
    while (i < n.size() && IsLowerLetter(n[i])) ++i;
    if (i == 0 || i > 3) return false;
  } else {
    while (i < n.size() && IsAsciiDigit(n[i])) ++i;
    if (i == 0 || i > 5 || n[0] == '0') return false;
    std::size_t letters = i;
    while (i < n.size() && IsLowerLetter(n[i])) ++i;
    if (i - letters > 3) return false;
  }
  if (i == n.size()) return true;
  if (n[i] != '(' || n.back() != ')') return false;
  std::string_view inner = n.substr(i + 1, n.size() - i - 2);
  return Number(inner, 3).has_value();
}

std::optional<EliAddress> ParseEliAddress(std::string_view path) {
  std::vector<std::string_view> s = Segments(path);
  // "", "eli", journal, year, position, ...
  if (s.size() < 5 || !s[0].empty() || s[1] != "eli") return std::nullopt;
  std::optional<ActAddress> act = ActOf(s[2], s[3], s[4]);
  if (!act) return std::nullopt;
  EliAddress a;
  a.act = *act;
  std::size_t i = 5;
  if (i < s.size() && s[i] == "zmiany") {
    if (i + 1 != s.size()) return std::nullopt;
    a.changes = true;
    return a;
  }
  if (i < s.size() && s[i] == "pierwotny") {
    a.version = EliAddress::Version::kFirst;
    ++i;
  } else if (i < s.size() && s[i] == "po") {
    if (i + 4 > s.size()) return std::nullopt;
    std::optional<ActAddress> after = ActOf(s[i + 1], s[i + 2], s[i + 3]);
    if (!after) return std::nullopt;
    a.version = EliAddress::Version::kAfter;
    a.after = *after;
    i += 4;
  }
  while (i < s.size()) {
    if (i + 2 > s.size()) return std::nullopt;
    std::optional<ProvisionKind> kind = ProvisionKindOfWord(s[i]);
    if (!kind || !IsProvisionNumber(*kind, s[i + 1])) return std::nullopt;
    // Each provision lies below the one before it; an act's own units start
    // with an article or a paragraph (acts divided into paragraphs only).
    if (a.provisions.empty() ? (*kind != ProvisionKind::kArticle && *kind != ProvisionKind::kParagraph)
                             : *kind <= a.provisions.back().kind)
      return std::nullopt;
    a.provisions.push_back({*kind, std::string(s[i + 1])});
    i += 2;
  }
  return a;
}

std::optional<EliAddress> ParseVersionSelector(const ActAddress& act, std::string_view selector) {
  EliAddress a;
  a.act = act;
  if (selector == "obowiazujacy") return a;
  if (selector == "pierwotny") {
    a.version = EliAddress::Version::kFirst;
    return a;
  }
  std::vector<std::string_view> s = Segments(selector);
  if (s.size() != 3) return std::nullopt;
  std::optional<ActAddress> after = ActOf(s[0], s[1], s[2]);
  if (!after) return std::nullopt;
  a.version = EliAddress::Version::kAfter;
  a.after = *after;
  return a;
}

std::string ActPath(const ActAddress& act) {
  std::optional<std::string> code = JournalCode(act.journal);
  if (!code) return {};
  return *code + "/" + std::to_string(act.year) + "/" + std::to_string(act.position);
}

std::string EliPath(const ActAddress& act) { return "/eli/" + ActPath(act); }

std::string EliVersionPath(const ActAddress& act, const std::optional<ActAddress>& after) {
  if (!after) return EliPath(act) + "/pierwotny";
  return EliPath(act) + "/po/" + ActPath(*after);
}

std::string ProvisionAddress(const ProvisionPath& path) {
  std::string out;
  for (const Provision& p : path) out += std::string("/") + ProvisionWord(p.kind) + "/" + p.number;
  return out;
}

std::string ProvisionFragment(const ProvisionPath& path) {
  std::string out;
  for (const Provision& p : path) out += (out.empty() ? "" : "-") + std::string(ProvisionWord(p.kind)) + "-" + p.number;
  return out;
}

std::string ProvisionCitation(const ProvisionPath& path) {
  std::string out;
  for (const Provision& p : path) out += (out.empty() ? "" : " ") + std::string(kWords[static_cast<int>(p.kind)].citation) + p.number;
  return out;
}

}  // namespace portico
