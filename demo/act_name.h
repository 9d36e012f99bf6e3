// How the documents of a base are named and cited: the one naming scheme that
// the item names of acts, their versions, their rulings and the rulings lists
// follow, so that the table of acts, the navigation line, the ruling markers,
// the contents tree and its synchronisation all read the same references out
// of them. Used by the demo builder and by the synthetic generator.
//
//   ActRef konst{'D', 97, 78, 483};
//   konst.Prefix()              -> "D97483"        (key of the act, ".ATT" name)
//   konst.DocName(konst)        -> "D97483D97483"  (first text: its own version)
//   konst.DocName({'D',9,114,946}) -> "D97483D09946" (version after an amendment)
//   konst.RulingsListName()     -> "D97483O"
//   konst.RulingsKey()          -> "D97483OO"      (key every ruling on the act carries)
//   konst.Citation()            -> "Dz.U.97.78.483"
#pragma once

#include <string>

namespace vamucorpus {

// The reference of an act: journal letter ('D' for "Dz.U.", 'M' for "M.P."),
// two-digit year (years since 1900, modulo 100), journal number and position.
struct ActRef {
  char journal = 'D';
  int year = 0;
  int number = 0;
  int position = 0;

  // Journal letter, two-digit year and the position written with at least
  // three digits (D97483, D641093). The ".ATT" references pad a short
  // position to three digits the same way, so the prefix is also the key
  // under which a reference finds the act.
  std::string Prefix() const;
  // The item name (without ".HTM") of one version of this act: the act's
  // prefix followed by the prefix of the act that gave the version its text
  // (the act itself for the first text).
  std::string DocName(const ActRef& version) const;
  // The document listing the rulings on this act, and the key of the rulings.
  std::string RulingsListName() const { return Prefix() + "O"; }
  std::string RulingsKey() const { return Prefix() + "OO"; }
  // "Dz.U.97.78.483" or "M.P.97.12.34": the citation that titles carry, from
  // which the table of acts takes the journal number.
  std::string Citation() const;
  // "Dz.U. 1997 nr 78 poz. 483" for people (four-digit year, 19xx for 60..99).
  std::string LongCitation() const;
  bool operator==(const ActRef&) const = default;
};

// The name of a ruling: "O", two-digit year of the ruling and a serial
// number of five digits (O1100001). Such names never designate an act, so
// rulings stay out of the contents tree and the search by journal reference.
std::string RulingName(int year, int serial);

}  // namespace vamucorpus
