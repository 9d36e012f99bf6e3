// The TreeToc page: one level of the contents tree as tree script lines,
// from the act tree of the main catalogue (Publ=Vamu) or from a prepared
// contents file of the contents catalogue (Publ=VamuSpis) with act entries
// spliced in; with Html=Yes the same level as a plain HTML list page.
#include <algorithm>
#include <string>

#include "biblion/srv_srv.h"
#include "portico/act_tree.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/tree_script.h"

namespace portico {

namespace {

constexpr char kUnavailable[] = "Sekcja nie jest dostępna";
constexpr char kNoTitle[] = "Bez tytułu";

// The act entry of a splice directive: the value behind "NAME=" (white space
// skipped, up to the next white space) names a position, "D97" + "5" style:
// letter, two-digit year, position; the act's number is found from them.
std::string SplicedAct(const CPorticoExtension& extension, std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && IsBlank(rest[i])) ++i;
  std::size_t end = i;
  while (end < rest.size() && !IsBlank(rest[end])) ++end;
  const std::string name = UpperCased(rest.substr(i, end - i));
  const DWORD position = name.size() > 3 ? static_cast<DWORD>(std::max(DecimalValue(name.substr(3)), 0)) : 0;
  const _RNP ref = _RNP::Make(JournalOfLetter(name.empty() ? 'D' : name[0]), NameField(name, 1, 2), 0, position);
  return RenderLevel(extension, TreeLevel::kPositions, ref, {position});
}

// The contents file "Spis<name>.toc" with its splice directives replaced: a
// line whose first "-" is followed by "dd", together with the line after it
// when that one holds "NAME=", becomes the act entry it names. Empty when
// the file cannot be read.
std::string ContentsFile(const CPorticoExtension& extension, std::string_view name) {
  const std::string item = UpperCased("Spis" + std::string(name) + ".toc");
  const CSrvSrv& contents = extension.Contents();
  const DWORD index = contents.GetItemIndex(item.c_str());
  CPageText text;
  if (index == CSrvSrv::kNoItem || !ReadItem(contents, index, 0, text)) return {};

  const std::string_view all = text.View();
  auto lineEnd = [&](std::size_t from) {
    std::size_t lf = all.find('\n', from);
    return lf == npos ? all.size() : lf + 1;
  };
  std::string out;
  out.reserve(all.size());
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t next = lineEnd(at);
    const std::string_view line = all.substr(at, next - at);
    const std::size_t dash = line.find('-');
    if (dash != npos && line.substr(dash + 1, 2) == "dd" && next < all.size()) {
      const std::size_t after = lineEnd(next);
      const std::string_view following = all.substr(next, after - next);
      const std::size_t value = following.find("NAME=");
      if (value != npos) {
        out += SplicedAct(extension, following.substr(value + 5));
        at = after;
        continue;
      }
    }
    out += line;
    at = next;
  }
  return out;
}

}  // namespace

DWORD TreeTocPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  extension.WaitReady();
  const std::string upper = UpperCased(arguments);
  const std::optional<std::string_view> publ = FieldValue(upper, "PUBL=");
  const std::optional<std::string_view> name = FieldValue(upper, "NAME=");
  std::string text;
  if (publ && name) {
    if (*publ == "VAMU") text = ActTreeLevel(extension, *name);
    else if (*publ == "VAMUSPIS") text = ContentsFile(extension, *name);
  }
  if (text.empty()) text = kUnavailable;

  const std::optional<std::string_view> html = FieldValue(upper, "HTML=");
  if (html && *html == "YES") {
    // The title keeps the case it was sent in: read at the same place.
    std::string title = kNoTitle;
    const std::size_t at = upper.find("TITLE=");
    if (at != std::string::npos) {
      std::string_view value = std::string_view(arguments).substr(at + 6);
      title = PercentDecode(value.substr(0, value.find('&')), false);
    }
    text = TreeListPage(text, title);
  }
  request.Write(text);
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
