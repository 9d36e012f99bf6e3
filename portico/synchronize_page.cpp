// The Synchronize page: the line numbers of the contents tree's nodes that
// open the tree at the act shown in the text frame, counted as the tree
// lists them (act_tree.h) with exactly that path open.
//
// Name (by character position): 0 journal letter of the act, 1-2 year, 3-6
// number, 7-10 position; 11 journal letter of the version shown, 12-13 its
// year, 14-17 number, 18-21 position. Answer: "0", ",L" for each level of the
// path, "/L,L" with the last line number; "0/0,0" when the act is not listed.
#include <optional>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "portico/act_tree.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kNoPath[] = "0/0,0";
// A version matches the one shown in journal, year and position; its number
// and prefix flag are not compared.
constexpr DWORD kVersionFields = 0xFFE007FF;

// The place of `value` in the children of a level, or nothing.
std::optional<std::size_t> PlaceOf(const std::vector<DWORD>& children, DWORD value) {
  for (std::size_t k = 0; k < children.size(); ++k)
    if (children[k] == value) return k;
  return std::nullopt;
}

// The line numbers of the path to the act, or empty when a level does not list it.
std::string TreePath(const CSrvSrv& catalogue, std::string_view name) {
  const char letter = name.empty() ? 0 : name[0];
  _RNP act = _RNP::Make(JournalOfLetter(letter), NameField(name, 1, 2), NameField(name, 3, 4), NameField(name, 7, 4));
  const char versionLetter = name.size() > 11 ? name[11] : 0;
  const _RNP shown = _RNP::Make(JournalOfLetter(versionLetter), NameField(name, 12, 2), NameField(name, 14, 4),
                                NameField(name, 18, 4));

  std::string text = "0";
  std::size_t line = 0;
  if (letter == 'D' || letter == 'M') {
    line = letter == 'D' ? 1 : 2;  // the journals are the first two lines
    text += "," + Decimal(static_cast<std::int64_t>(line));
  }
  auto descend = [&](std::size_t k) {
    line += k + 1;
    text += "," + Decimal(static_cast<std::int64_t>(line));
  };

  std::optional<std::size_t> k = PlaceOf(TreeChildren(catalogue, TreeLevel::kYears, act), act.Year());
  if (!k) return {};
  descend(*k);
  if (act.Number() == 0) {  // the name does not know the number: the act does
    std::vector<DWORD> ignored;
    act = catalogue.GetSubPositions(act, ignored);
  }
  k = PlaceOf(TreeChildren(catalogue, TreeLevel::kNumbers, act), act.Number());
  if (!k) return {};
  descend(*k);
  k = PlaceOf(TreeChildren(catalogue, TreeLevel::kPositions, act), act.Position());
  if (!k) return {};
  descend(*k);

  const std::vector<DWORD> versions = TreeChildren(catalogue, TreeLevel::kVersions, act);
  if (versions.size() != 1) {  // one version is shown without a level of its own
    k = std::nullopt;
    for (std::size_t v = 0; v < versions.size() && !k; ++v)
      if ((versions[v] & kVersionFields) == (shown.dw & kVersionFields)) k = v;
    if (!k) return {};
    descend(*k);
  }
  const std::string last = Decimal(static_cast<std::int64_t>(line));
  return text + "/" + last + "," + last;
}

}  // namespace

DWORD SynchronizePage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  extension.WaitReady();
  const std::string upper = UpperCased(arguments);
  const std::optional<std::string_view> publ = FieldValue(upper, "PUBL=");
  const std::optional<std::string_view> name = FieldValue(upper, "NAME=");
  std::string answer;
  if (publ && *publ == "VAMU" && name) answer = TreePath(extension.Main(), *name);
  if (answer.empty()) answer = kNoPath;
  request.Write(answer);
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
