// vamubase commands on the catalogue of a set of bases: acts (the table of
// acts by journal, year, number and position, as the site's contents tree and
// search form see it) and act (one act looked up by its reference, with its
// versions). Editors use them to check that the names and titles of their
// documents give the references they expect before the bases go on the site.
// Titles are printed as the documents hold them (windows-1250 bytes).
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "platform/cp1250.h"
#include "tools/vamubase/command.h"

namespace vamubase {
namespace {

// The catalogue over the bases given, or over the bases the registry lists
// for `catalogue` when none are given. The table's cache file is written
// only where --cache asks for it.
struct CatalogueArgs {
  std::optional<std::string> cache;
  std::optional<std::string> catalogue;
};

bool TakeCatalogueOptions(const char* command, std::vector<std::string>& args, CatalogueArgs& out) {
  bool missing = false;
  out.cache = TakeOption(args, "--cache", missing);
  out.catalogue = TakeOption(args, "--catalogue", missing);
  if (missing) {
    Usage(command, "an option lacks its value");
    return false;
  }
  return true;
}

// The bases come from the command line or from the registry, never both.
bool BasesGiven(const char* command, const CatalogueArgs& options, const std::vector<std::string>& bases) {
  if (bases.empty() && !options.catalogue) {
    Usage(command, "give at least one base, or --catalogue NAME");
    return false;
  }
  if (!bases.empty() && options.catalogue) {
    Usage(command, "give bases or --catalogue, not both");
    return false;
  }
  return true;
}

bool OpenCatalogue(CSrvSrv& cat, const CatalogueArgs& options, const std::vector<std::string>& bases) {
  cat.SetCacheDirectory(options.cache ? *options.cache : std::string());
  ExplainWaits(bases.size() == 1 ? bases[0] : std::string("a base"));
  BOOL open = options.catalogue ? cat.Init(options.catalogue->c_str()) : cat.Init(nullptr, bases);
  for (const std::string& problem : cat.GetProblems()) std::cerr << "vamubase: " << problem << "\n";
  if (!open) {
    Fail(options.catalogue ? "the registry lists no base that can be opened for " + *options.catalogue
                           : std::string("no base could be opened"));
    return false;
  }
  return true;
}

const char* JournalText(DWORD kind) {
  switch (kind) {
    case _RNP::kDzU: return "Dz.U.";
    case _RNP::kMP: return "M.P.";
    case _RNP::kRuling: return "O.";
    default: return "-";
  }
}

// A number as cited: "Nr 12" when the citation put text before it.
std::string NumberText(_RNP r) { return (r.Prefix() ? "Nr " : "") + std::to_string(r.Number()); }

std::string Two(DWORD year) { return (year < 10 ? "0" : "") + std::to_string(year); }

std::string ReferenceText(_RNP r) {
  if (r.Kind() == _RNP::kOther) return "-";
  return JournalText(r.Kind()) + Two(r.Year()) + "." + NumberText(r) + "." + std::to_string(r.Position());
}

// What a document of an act is: its first text, a version by another act,
// or a document without a second reference.
std::string VersionText(_RNP first, _RNP second) {
  if (second == first) return "first text";
  if (second.Kind() == _RNP::kOther) return "-";
  return ReferenceText(second);
}

std::string ItemName(const CSrvSrv& cat, DWORD index) {
  FileItemPtr item(cat.GetItem(index));
  return item ? std::string(item->szName) : std::string("(no item)");
}

// "Dz.U.97.78.483" or "M.P.1999.3.5" (either case); number 0 or empty
// ("Dz.U.97..483") finds the act by its position in the year.
std::optional<_RNP> ParseReference(const std::string& text) {
  std::string upper = text;
  cp1250::UpperCase(upper.data(), upper.size());
  DWORD kind;
  std::size_t at;
  if (upper.rfind("DZ.U.", 0) == 0) {
    kind = _RNP::kDzU;
    at = 5;
  } else if (upper.rfind("M.P.", 0) == 0) {
    kind = _RNP::kMP;
    at = 4;
  } else {
    return std::nullopt;
  }
  DWORD field[3] = {0, 0, 0};
  for (int f = 0; f < 3; ++f) {
    std::size_t digits = 0;
    for (; at < upper.size() && upper[at] >= '0' && upper[at] <= '9' && digits < 5; ++at, ++digits)
      field[f] = field[f] * 10 + static_cast<DWORD>(upper[at] - '0');
    if (f < 2) {
      if (at >= upper.size() || upper[at] != '.') return std::nullopt;
      ++at;
    }
    if (f != 1 && digits == 0) return std::nullopt;
  }
  if (at != upper.size()) return std::nullopt;
  DWORD year = field[0] >= 1900 ? field[0] % 100 : field[0];
  if (year > 99 || field[1] > 511 || field[2] > 2047) return std::nullopt;
  return _RNP::Make(kind, year, field[1], field[2]);
}

int Acts(std::vector<std::string>& args) {
  CatalogueArgs options;
  if (!TakeCatalogueOptions("acts", args, options)) return kUsage;
  bool missing = false;
  auto journal = TakeOption(args, "--journal", missing);
  auto year = TakeOption(args, "--year", missing);
  if (missing) return Usage("acts", "an option lacks its value");
  if (!NoOptionsLeft("acts", args)) return kUsage;
  std::optional<DWORD> kind, onlyYear;
  if (journal) {
    if (*journal == "D" || *journal == "d") kind = _RNP::kDzU;
    else if (*journal == "M" || *journal == "m") kind = _RNP::kMP;
    else return Usage("acts", "--journal is D (Dz.U.) or M (M.P.)");
  }
  if (year) {
    auto y = ParseIndex(*year);
    if (!y || *y > 127) return Usage("acts", "--year needs a two-digit year");
    onlyYear = *y;
  }
  if (!BasesGiven("acts", options, args)) return kUsage;
  CSrvSrv cat;
  if (!OpenCatalogue(cat, options, args)) return kFailed;
  for (const auto& e : cat.GetActEntries()) {
    const _RNP first(e.dwFirst), second(e.dwSecond);
    if (kind && first.Kind() != *kind) continue;
    if (onlyYear && first.Year() != *onlyYear) continue;
    std::cout << JournalText(first.Kind()) << "\t" << Two(first.Year()) << "\t" << NumberText(first) << "\t"
              << first.Position() << "\t" << VersionText(first, second) << "\t" << e.dwIndex << "\t"
              << ItemName(cat, e.dwIndex) << "\t" << cat.GetTitleOf(e.dwIndex) << "\n";
  }
  return kOk;
}

int Act(std::vector<std::string>& args) {
  CatalogueArgs options;
  if (!TakeCatalogueOptions("act", args, options)) return kUsage;
  if (!NoOptionsLeft("act", args)) return kUsage;
  if (args.empty()) return Usage("act", "give a reference such as Dz.U.97.78.483");
  auto reference = ParseReference(args[0]);
  if (!reference) return Usage("act", args[0] + ": not a reference such as Dz.U.97.78.483 or M.P.99.3.5");
  args.erase(args.begin());
  if (!BasesGiven("act", options, args)) return kUsage;
  CSrvSrv cat;
  if (!OpenCatalogue(cat, options, args)) return kFailed;
  std::vector<DWORD> versions;
  const _RNP act = cat.GetSubPositions(*reference, versions);
  if (versions.empty()) return Fail("no act " + ReferenceText(*reference) + " in the bases");
  std::cout << ReferenceText(act) << "\n";
  for (DWORD v : versions) {
    const DWORD index = cat.GetIndex(act, _RNP(v));
    std::cout << VersionText(act, _RNP(v)) << "\t" << index << "\t" << ItemName(cat, index) << "\t"
              << cat.GetTitleOf(index) << "\n";
  }
  return kOk;
}

}  // namespace

VAMUBASE_COMMAND(acts, "acts", "[--journal D|M] [--year YY] [--cache DIR] [--catalogue NAME] BASE...",
                 "list the table of acts: journal, year, number, position, version, index, item, title",
                 "  --journal D|M     only Dz.U. (D) or M.P. (M)\n"
                 "  --year YY         only this two-digit year\n"
                 "  --cache DIR       keep the table's cache file in DIR (default: none, built each time)\n"
                 "  --catalogue NAME  the bases the registry lists for catalogue NAME (e.g. biblion)\n"
                 "                    instead of BASE...\n"
                 "The bases are numbered in the order given; index is base << 16 | slot.\n"
                 "Version: \"first text\", the act that made the version (e.g. Dz.U.98.5.12), or \"-\".\n",
                 Acts);
VAMUBASE_COMMAND(act, "act", "[--cache DIR] [--catalogue NAME] REFERENCE BASE...",
                 "look an act up by its reference (e.g. Dz.U.97.78.483) and list its versions",
                 "  REFERENCE         Dz.U.YY.NUMBER.POSITION or M.P.YY.NUMBER.POSITION; a year may\n"
                 "                    have four digits; NUMBER 0 or empty finds the act by its position\n"
                 "  --cache DIR       keep the table's cache file in DIR (default: none)\n"
                 "  --catalogue NAME  the bases the registry lists for catalogue NAME instead of BASE...\n"
                 "Prints the act's full reference, then one line per version: version, index, item, title.\n"
                 "Exit status 1 when no such act is in the bases.\n",
                 Act);

}  // namespace vamubase
