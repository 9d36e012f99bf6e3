// Stable addresses of acts and their provisions, in the form of the Polish
// European Legislation Identifier:
//
//   /eli/DU/1997/483                      the act "Dz.U." 1997 poz. 483, the text in force (its last version)
//   /eli/DU/1997/483/pierwotny            its first text
//   /eli/DU/1997/483/po/DU/2009/946       its text after the amendment Dz.U. 2009 poz. 946
//   .../art/5, .../art/5/ust/2, .../art/5/ust/2/pkt/3, .../art/22(1), .../art/5/par/2, .../art/5/ust/2/pkt/3/lit/a
//   /eli/DU/1997/483/zmiany               what changed between two versions (fields z= and na=)
//
// The journal is "DU" ("Dz.U.") or "MP" ("M.P."). Years have four digits;
// the table of acts keeps two, and reads them as the years of the window
// kFirstYear..kFirstYear+99 (a limit of the naming scheme of the bases).
// Parsing is strict: anything else is no address, so a hostile path can
// only ever name an act that may or may not exist.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"

namespace portico {

// The first year of the window that two-digit years are read in.
constexpr int kFirstYear = 1960;

// Four digits of a two-digit year of the table, and back (nothing outside the window).
int FourDigitYear(unsigned twoDigits);
std::optional<unsigned> TwoDigitYear(int year);

// "DU" / "MP" for the journal kinds of _RNP (0, 1); nothing for others.
std::optional<std::string> JournalCode(DWORD kind);
std::optional<DWORD> JournalOfCode(std::string_view code);

// An act as an address names it.
struct ActAddress {
  DWORD journal = 0;  // _RNP kind
  int year = 0;       // four digits
  int position = 0;
  bool operator==(const ActAddress&) const = default;
};

// Kinds of provisions, from the largest: article, paragraph (§), section
// (ustęp), point, letter. A provision below another is of a later kind.
enum class ProvisionKind { kArticle, kParagraph, kSection, kPoint, kLetter };
struct Provision {
  ProvisionKind kind;
  std::string number;  // canonical: "5", "5a", "22(1)", "b"
  bool operator==(const Provision&) const = default;
};
using ProvisionPath = std::vector<Provision>;

// The address word of a kind ("art", "par", "ust", "pkt", "lit") and back.
const char* ProvisionWord(ProvisionKind kind);
std::optional<ProvisionKind> ProvisionKindOfWord(std::string_view word);
// Whether a number is canonical for the kind: 1-5 digits without a leading
// zero, then up to 3 lower-case letters, then optionally "(" 1-3 digits ")";
// letters of kLetter: 1-3 lower-case letters, optionally "(" digits ")".
bool IsProvisionNumber(ProvisionKind kind, std::string_view number);

// What an address names.
struct EliAddress {
  enum class Version { kInForce, kFirst, kAfter };
  ActAddress act;
  Version version = Version::kInForce;
  ActAddress after;          // the amendment, for kAfter
  ProvisionPath provisions;  // empty: the whole act
  bool changes = false;      // ".../zmiany" (act and no version or provision)
};

// A decoded path that starts with "/eli/"; nothing when it is not an address.
std::optional<EliAddress> ParseEliAddress(std::string_view path);
// One version selector as the comparison page takes it (z=, na=):
// "pierwotny", "DU/2009/946" or "obowiazujacy" (the text in force).
std::optional<EliAddress> ParseVersionSelector(const ActAddress& act, std::string_view selector);

// "DU/1997/483" (nothing for a journal without a code).
std::string ActPath(const ActAddress& act);
// "/eli/DU/1997/483", "/eli/DU/1997/483/pierwotny", "/eli/DU/1997/483/po/DU/2009/946".
std::string EliPath(const ActAddress& act);
std::string EliVersionPath(const ActAddress& act, const std::optional<ActAddress>& after);
// "/art/5/ust/2".
std::string ProvisionAddress(const ProvisionPath& path);
// The fragment id of a provision in the page without frames: "art-5-ust-2".
std::string ProvisionFragment(const ProvisionPath& path);
// How a citation names it: "art. 5 ust. 2 pkt 3", "§ 2" (windows-1250).
std::string ProvisionCitation(const ProvisionPath& path);

}  // namespace portico
