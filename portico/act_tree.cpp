#include "portico/act_tree.h"

#include <algorithm>

#include "biblion/srv_srv.h"
#include "portico/extension.h"
#include "portico/settings.h"
#include "portico/text.h"
#include "portico/toc.h"
#include "portico/tree_script.h"

namespace portico {

namespace {

constexpr char kTreeBase[] = "portico.dll?TreeToc&Publ=Vamu&Name=";
constexpr char kLoading[] = "Ładuje...";
constexpr char kTopicLink[] = "1 -t portico.dll?Topic&";
// A document's own table of contents is offered as a child only when the
// contents reader has more than this (its not-found page has 93 bytes).
constexpr std::size_t kContentsWorthShowing = 100;

std::string Padded(DWORD value, int width) {
  std::string digits = Decimal(value);
  if (digits.size() < static_cast<std::size_t>(width)) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The names of the bases carry two-digit years; the pivot (Setup\YearPivot)
// tells the centuries apart: below it 20xx, from it on 19xx. 50 serves the
// journals from 1950 to 2049; a collection that reaches back further needs a
// lower pivot, and no pivot tells 1918 from 2018.
constexpr DWORD kDefaultYearPivot = 50;

DWORD YearPivot() {
  std::optional<DWORD> pivot = ReadNumberSetting("Setup", "YearPivot");
  return pivot ? std::min<DWORD>(*pivot, 100) : kDefaultYearPivot;
}

std::string Placeholder(const std::string& childName) {
  return std::string("2 -t ") + kTreeBase + childName + QuotedCaption(kLoading);
}

// The name of the node a level works on. The level, not the values, decides
// how many fields it has: year 0 (2000) and number 0 (acts cited without a
// number) are values like any other.
std::string NodePrefix(TreeLevel level, _RNP ref) {
  std::string prefix = ref.Kind() == _RNP::kMP ? "M" : "D";
  if (level == TreeLevel::kYears) return prefix;
  prefix += Padded(ref.Year(), 2);
  if (level == TreeLevel::kNumbers) return prefix;
  prefix += Padded(ref.Number(), 4);
  if (level == TreeLevel::kPositions) return prefix;
  return prefix + Padded(ref.Position(), 4);
}

bool HasContents(const CPorticoExtension& extension, DWORD index) {
  return ReadContents(extension, static_cast<std::int32_t>(index)).Length() > kContentsWorthShowing;
}

// One position of a number (or of a contents file's splice, whose reference
// has no number): the act's title, and its versions behind a placeholder,
// or a link to its only version.
std::string RenderPosition(const CPorticoExtension& extension, _RNP ref, const std::string& prefix, DWORD v) {
  const CSrvSrv& catalogue = extension.Main();
  _RNP p = ref;
  p.SetPosition(v);
  std::vector<DWORD> versions;
  const _RNP act = catalogue.GetSubPositions(p, versions);
  std::string title = catalogue.GetTitle(act, act);
  std::string caption;
  if (ref.Number() != 0) {
    // The title cites the act ("Dz.U.97.12.5 - Ustawa ..."): the caption
    // names the position and keeps what follows the citation.
    std::size_t dash = title.find("- ");
    if (dash != std::string::npos) title.erase(0, dash + 2);
    else if (!title.empty()) title.erase(0, 1);
    caption = "Poz. " + Decimal(v) + " " + title;
  } else {
    caption = title;
  }
  const std::string c = QuotedCaption(caption);
  const std::string child = prefix + Padded(v, 4);
  if (versions.size() > 1) return "1 -id" + c + Placeholder(child);
  if (versions.empty()) return {};  // nothing of the act can be shown
  const DWORD index = catalogue.GetIndex(act, _RNP(versions[0]));
  std::string lines = kTopicLink + Decimal(index) + c;
  if (HasContents(extension, index)) lines += Placeholder(child + Decimal(index));
  return lines;
}

std::string RenderVersion(const CPorticoExtension& extension, _RNP act, const std::string& prefix, _RNP v) {
  std::string caption;
  if (v == act) {
    caption = "Tekst Pierwotny";
  } else {
    switch (v.Kind()) {
      case _RNP::kDzU: caption = "Dz.U."; break;
      case _RNP::kMP: caption = "M.P."; break;
      case _RNP::kRuling: return {};  // rulings are not versions of the act
      default: break;                 // no journal: the citation alone
    }
    if (v.Year() != 0)
      caption += Decimal(v.Year()) + "." + Decimal(v.Number()) + "." + Decimal(v.Position()) + " ";
    caption = "Zmiana  " + caption;
  }
  const DWORD index = extension.Main().GetIndex(act, v);
  const std::string line = kTopicLink + Decimal(index) + QuotedCaption(caption);
  if (HasContents(extension, index)) return line + Placeholder(prefix + Decimal(index));
  return line + "\r\n";
}

}  // namespace

DWORD JournalOfLetter(char letter) { return letter == 'M' ? _RNP::kMP : _RNP::kDzU; }

DWORD FullYear(DWORD year, DWORD pivot) {
  if (year >= 100) return year;
  return year < pivot ? 2000 + year : 1900 + year;
}

DWORD NameField(std::string_view name, std::size_t pos, std::size_t width) {
  if (name.size() <= pos) return 0;
  return static_cast<DWORD>(std::max(DecimalValue(name.substr(pos, width)), 0));
}

ActNode ParseActNodeName(std::string_view name) {
  ActNode node;
  const char letter = name.empty() ? 'D' : name[0];
  node.ref = _RNP::Make(JournalOfLetter(letter), NameField(name, 1, 2), NameField(name, 3, 4), NameField(name, 7, 4));
  if (name.size() > 11) {
    node.level = TreeLevel::kContents;
    node.nItem = DecimalValue(name.substr(11));
  } else if (name.size() > 7) {
    node.level = TreeLevel::kVersions;
  } else if (name.size() > 3) {
    node.level = TreeLevel::kPositions;
  } else if (name.size() > 1) {
    node.level = TreeLevel::kNumbers;
  } else {
    node.level = TreeLevel::kYears;
  }
  return node;
}

std::vector<DWORD> TreeChildren(const CSrvSrv& catalogue, TreeLevel level, _RNP ref, _RNP* act) {
  std::vector<DWORD> list;
  switch (level) {
    case TreeLevel::kYears: {
      catalogue.GetYears(ref, list);
      // Reversed below: oldest first here, by the full year.
      const DWORD pivot = YearPivot();
      std::stable_sort(list.begin(), list.end(),
                       [pivot](DWORD a, DWORD b) { return FullYear(a, pivot) < FullYear(b, pivot); });
      break;
    }
    case TreeLevel::kNumbers: catalogue.GetNumbers(ref, list); break;
    case TreeLevel::kPositions: catalogue.GetPositions(ref, list); break;
    case TreeLevel::kVersions: {
      _RNP full = catalogue.GetSubPositions(ref, list);
      if (act) *act = full;
      break;
    }
    case TreeLevel::kContents: break;
  }
  std::reverse(list.begin(), list.end());
  return list;
}

std::string RenderLevel(const CPorticoExtension& extension, TreeLevel level, _RNP ref,
                        const std::vector<DWORD>& children) {
  const std::string prefix = NodePrefix(level, ref);
  const DWORD pivot = level == TreeLevel::kYears ? YearPivot() : 0;
  std::string out;
  for (DWORD v : children) {
    switch (level) {
      case TreeLevel::kYears:
        out += "1 -id" + QuotedCaption("Rocznik " + Decimal(FullYear(v, pivot))) + Placeholder(prefix + Padded(v, 2));
        break;
      case TreeLevel::kNumbers:
        out += "1 -id" + QuotedCaption("Numer " + Decimal(v)) + Placeholder(prefix + Padded(v, 4));
        break;
      case TreeLevel::kPositions: out += RenderPosition(extension, ref, prefix, v); break;
      case TreeLevel::kVersions: out += RenderVersion(extension, ref, prefix, _RNP(v)); break;
      case TreeLevel::kContents: break;
    }
  }
  if (!out.empty()) out += "\r\n";
  return out;
}

std::string ActTreeLevel(const CPorticoExtension& extension, std::string_view name) {
  const ActNode node = ParseActNodeName(name);
  if (node.level == TreeLevel::kContents) {
    return ContentsTreeLines(ReadContents(extension, node.nItem).View());
  }
  _RNP ref = node.ref;
  std::vector<DWORD> children = TreeChildren(extension.Main(), node.level, ref, &ref);
  return RenderLevel(extension, node.level, ref, children);
}

std::string QuotedCaption(std::string_view caption) {
  std::string out = " \"";
  for (char c : caption) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"\r\n";
}

}  // namespace portico
