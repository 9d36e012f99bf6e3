#include "portico/reader_act.h"

#include <algorithm>
#include <exception>
#include <set>

#include "biblion/act_parse.h"
#include "biblion/srv_srv.h"
#include "portico/document.h"
#include "portico/ruling_markers.h"
#include "portico/text.h"
#include "portico/topic.h"

namespace portico {

namespace {

bool SameAct(_RNP a, _RNP b) {
  return a.Kind() == b.Kind() && a.Year() == b.Year() && a.Position() == b.Position();
}

ActAddress AddressOf(_RNP r) {
  return ActAddress{r.Kind(), FourDigitYear(r.Year()), static_cast<int>(r.Position())};
}

// Plain text of a bit of HTML: tags dropped, entities decoded, blanks collapsed.
std::string PlainText(std::string_view html) {
  std::string out;
  bool space = false, inTag = false;
  for (char c : DecodeEntities(html)) {
    if (inTag) {
      inTag = c != '>';
      continue;
    }
    if (c == '<') {
      inTag = true;
      continue;
    }
    if (IsBlank(c) || static_cast<unsigned char>(c) < 0x20) {
      space = true;
      continue;
    }
    if (space && !out.empty()) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

// The section of a ruling behind its anchor: between the first "<!--BEGIN-->"
// and "<!--END-->" that follow "<A NAME="anchor"".
std::string_view RulingSection(std::string_view text, std::string_view anchor) {
  const std::string tag = "<A NAME=\"" + std::string(anchor) + "\"";
  std::size_t at = text.find(tag);
  if (at == npos) at = FindNoCase(text, tag);
  if (at == npos) return {};
  std::size_t begin = text.find("<!--BEGIN-->", at);
  if (begin == npos) return {};
  begin += 12;
  std::size_t end = text.find("<!--END-->", begin);
  if (end == npos) return {};
  return text.substr(begin, std::min(end - begin, kMaxSectionBytes * 4));
}

// Cuts a section to about kMaxSectionBytes of text, at a line.
void LimitSection(ActText& section) {
  std::size_t bytes = 0, keep = 0;
  while (keep < section.lines.size() && bytes < kMaxSectionBytes) bytes += section.lines[keep++].text.size();
  section.lines.resize(keep);
}

}  // namespace

std::optional<ReaderAct> FindReaderAct(const CSrvSrv& catalogue, const ActAddress& address) {
  std::optional<unsigned> year = TwoDigitYear(address.year);
  if (!year || (address.journal != _RNP::kDzU && address.journal != _RNP::kMP)) return std::nullopt;
  _RNP wanted = _RNP::Make(address.journal, *year, 0, static_cast<DWORD>(address.position));
  std::vector<DWORD> seconds;
  _RNP first = catalogue.GetSubPositions(wanted, seconds);
  ReaderAct act;
  act.address = address;
  act.first = first;
  for (DWORD s : seconds) {
    _RNP second(s);
    // Versions are the documents whose second reference names an act.
    if (second.Kind() != _RNP::kDzU && second.Kind() != _RNP::kMP) continue;
    DWORD index = catalogue.GetIndex(first, second);
    if (index == CSrvSrv::kNoItem) continue;
    ActVersion v{second, index, std::nullopt};
    if (!SameAct(first, second)) v.after = AddressOf(second);
    act.versions.push_back(v);
  }
  if (act.versions.empty()) return std::nullopt;
  // The order of the texts: the first text, then amendments by their
  // four-digit year and position (the table orders two-digit years).
  std::stable_sort(act.versions.begin(), act.versions.end(), [](const ActVersion& a, const ActVersion& b) {
    if (a.after.has_value() != b.after.has_value()) return !a.after.has_value();
    if (!a.after) return false;
    if (a.after->year != b.after->year) return a.after->year < b.after->year;
    if (a.after->position != b.after->position) return a.after->position < b.after->position;
    return a.after->journal < b.after->journal;
  });
  return act;
}

std::optional<std::size_t> SelectVersion(const ReaderAct& act, const EliAddress& address) {
  switch (address.version) {
    case EliAddress::Version::kInForce: return act.versions.size() - 1;
    case EliAddress::Version::kFirst:
      if (!act.versions.front().after) return 0;
      return std::nullopt;
    case EliAddress::Version::kAfter:
      for (std::size_t i = 0; i < act.versions.size(); ++i)
        if (act.versions[i].after && *act.versions[i].after == address.after) return i;
      return std::nullopt;
  }
  return std::nullopt;
}

std::string VersionPath(const ReaderAct& act, std::size_t version) {
  return EliVersionPath(act.address, act.versions[version].after);
}

std::string Citation(_RNP r) {
  std::string out = r.Kind() == _RNP::kMP ? "M.P. " : "Dz.U. ";
  out += std::to_string(FourDigitYear(r.Year()));
  if (r.Number()) out += " nr " + std::to_string(r.Number());
  return out + " poz. " + std::to_string(r.Position());
}

std::string VersionLabel(const ActVersion& version) {
  if (!version.after) return "tekst pierwotny";
  return "po zmianie: " + Citation(version.second);
}

std::optional<ItemAddress> AddressOfItemName(std::string_view storedName) {
  _RNP first, second;
  if (!biblion::ParseItemName(storedName, first, second)) return std::nullopt;
  if (first.Kind() != _RNP::kDzU && first.Kind() != _RNP::kMP) return std::nullopt;
  ItemAddress a{AddressOf(first), std::nullopt};
  if (second.Kind() == _RNP::kDzU || second.Kind() == _RNP::kMP) {
    if (!SameAct(first, second)) a.after = AddressOf(second);
  } else if (second.Kind() != _RNP::kOther) {
    return std::nullopt;  // a rulings list
  }
  return a;
}

std::vector<TocEntry> ReadTocEntries(std::string_view document) {
  std::vector<TocEntry> out;
  std::size_t start = document.find("<!--TOC");
  if (start == npos) return out;
  std::size_t end = document.find("-->", start);
  std::string_view toc = document.substr(start + 7, end == npos ? npos : end - start - 7);
  int depth = 0;
  for (std::size_t i = 0; i < toc.size() && out.size() < kMaxTocEntries;) {
    std::size_t lt = toc.find('<', i);
    if (lt == npos) break;
    std::size_t gt = toc.find('>', lt);
    if (gt == npos) break;
    std::string_view tag = toc.substr(lt + 1, gt - lt - 1);
    i = gt + 1;
    if (StartsWithNoCase(tag, "UL") || StartsWithNoCase(tag, "OL")) {
      ++depth;
    } else if (StartsWithNoCase(tag, "/UL") || StartsWithNoCase(tag, "/OL")) {
      depth = std::max(0, depth - 1);
    } else if ((tag.size() > 1 && (tag[0] == 'A' || tag[0] == 'a') && IsBlank(tag[1]))) {
      std::size_t href = FindNoCase(tag, "HREF=");
      std::size_t hash = href == npos ? npos : tag.find('#', href);
      if (hash == npos) continue;
      std::size_t anchorEnd = tag.find_first_of("\" >", hash);
      std::string anchor(tag.substr(hash + 1, anchorEnd == npos ? npos : anchorEnd - hash - 1));
      std::size_t close = FindNoCase(toc, "</A>", i);
      if (close == npos || anchor.empty()) continue;
      out.push_back({std::max(1, depth), PercentDecode(anchor, false), PlainText(toc.substr(i, close - i))});
      i = close + 4;
    }
  }
  return out;
}

std::optional<ReaderDocument> ReadReaderDocument(const CSrvSrv& catalogue, DWORD index) {
  CPageText text;
  ReaderDocument d;
  if (!ReadItem(catalogue, index, 0, text, &d.storedName)) return std::nullopt;
  text.CutAtZero();
  d.title = PlainText(biblion::ExtractTitle(text.View()));
  d.navigation = UpperCased(NavigationLineOf(catalogue, text.View(), d.storedName));
  d.contents = ReadTocEntries(text.View());
  RemoveComments(text);
  d.text = ReadActText(text.View());
  return d;
}

std::vector<ReaderRuling> ReadRulings(const CSrvSrv& catalogue, std::string_view storedName) {
  std::vector<ReaderRuling> out;
  const std::string prefix = ActPrefix(storedName);
  if (prefix.empty()) return out;
  std::vector<DWORD> items = FindKeyItems(catalogue, prefix + "OO");
  std::set<DWORD> seen;
  for (DWORD index : items) {
    if (out.size() >= kMaxRulings) break;
    if (!seen.insert(index).second) continue;
    CPageText text;
    // A damaged ruling costs its place beside the act, not the act's page.
    try {
      if (!ReadItem(catalogue, index, 0, text)) continue;
    } catch (const std::exception&) {
      continue;
    }
    text.CutAtZero();
    std::vector<RulingMarker> markers;
    ReadReferences(text.View(), prefix, index, markers);
    if (markers.empty()) continue;
    ReaderRuling r;
    r.index = index;
    r.title = PlainText(biblion::ExtractTitle(text.View()));
    for (const RulingMarker& m : markers) {
      ProvisionPath place = ProvisionOfLocationKey(m.key);
      if (place.empty()) {
        r.wholeAct = true;
      } else if (std::find(r.places.begin(), r.places.end(), place) == r.places.end()) {
        r.places.push_back(std::move(place));
      }
    }
    // The value of a reference is "<index>&<anchor>"; its anchor names the section.
    const std::string& value = markers.front().text;
    std::string_view anchor = std::string_view(value).substr(value.find('&') + 1);
    r.section = ReadActText(RulingSection(text.View(), anchor));
    LimitSection(r.section);
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<RelatedAct> ReadRelatedActs(const CSrvSrv& catalogue, const ReaderDocument& document,
                                        const ActAddress& self) {
  std::vector<RelatedAct> out;
  std::optional<std::string> key = NavigationValue(document.navigation, "LINKEDDOC=");
  if (!key || key->empty() || key->find(';') != npos) return out;
  std::vector<DWORD> items = FindKeyItems(catalogue, *key);
  // The latest document of each act: items of one act come in the order of its texts.
  std::vector<std::pair<ActAddress, DWORD>> acts;
  for (DWORD index : items) {
    FileItemPtr item(catalogue.GetItem(index));
    if (!item) continue;
    const std::string name = StoredName(item.get());
    std::optional<ItemAddress> a = AddressOfItemName(name);
    if (!a || a->act == self) continue;
    auto it = std::find_if(acts.begin(), acts.end(), [&](const auto& p) { return p.first == a->act; });
    if (it == acts.end()) {
      if (acts.size() >= kMaxRelated) break;
      acts.emplace_back(a->act, index);
    } else {
      it->second = index;
    }
  }
  for (const auto& [address, index] : acts)
    out.push_back({address, ShortTitle(PlainText(catalogue.GetTitleOf(index)))});
  return out;
}

std::string ShortTitle(std::string_view title) {
  std::string_view t = title;
  std::size_t dash = t.find(" - ");
  if (dash != npos) t = t.substr(dash + 3);
  std::size_t change = t.rfind(" (zmiana:");
  if (change != npos && !t.empty() && t.back() == ')') t = t.substr(0, change);
  return std::string(t);
}

}  // namespace portico
