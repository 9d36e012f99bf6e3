// An act as the reader pages and the API find it: through the table of
// acts (so its address survives rebuilding the bases), with its versions in
// the order of their texts, and what its documents hold: title, table of
// contents, text, the rulings on its provisions and the related acts.
// Everything read here is windows-1250; the pages convert as they write.
//
// Threads: pure functions over a catalogue that the caller has waited for
// (CPorticoExtension::WaitReady); safe from any number of request threads.
// Damaged items throw the store's exceptions, as every read of a page does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "biblion/rnp.h"
#include "portico/act_text.h"
#include "portico/eli_address.h"

class CSrvSrv;

namespace portico {

struct ActVersion {
  _RNP second;                      // the table's second reference
  DWORD index = 0;                  // combined index of its document
  std::optional<ActAddress> after;  // the amendment; nothing for the first text
};

struct ReaderAct {
  ActAddress address;
  _RNP first;                        // completed with the journal number
  std::vector<ActVersion> versions;  // first text first, then amendments by year and position
};

// The act at an address (its versions, never rulings lists); nothing when
// the table of acts has no document of it.
std::optional<ReaderAct> FindReaderAct(const CSrvSrv& catalogue, const ActAddress& address);

// The version an address names: the last for the text in force; nothing
// when the act has no such version.
std::optional<std::size_t> SelectVersion(const ReaderAct& act, const EliAddress& address);

// The address of a version ("/eli/DU/1997/483/po/DU/2009/946").
std::string VersionPath(const ReaderAct& act, std::size_t version);
// How a reader names a version: "tekst pierwotny", "po zmianie: Dz.U. 2009 nr 114 poz. 946".
std::string VersionLabel(const ActVersion& version);
// "Dz.U. 1997 nr 78 poz. 483" ("M.P. ..."; without "nr" when the number is 0).
std::string Citation(_RNP reference);

// The act (and version) an item name stands for: "D97483D09946.HTM" gives
// Dz.U. 1997/483 after Dz.U. 2009/946. Nothing for rulings, rulings lists,
// images and names outside the scheme.
struct ItemAddress {
  ActAddress act;
  std::optional<ActAddress> after;
};
std::optional<ItemAddress> AddressOfItemName(std::string_view storedName);

// One entry of a document's own table of contents.
struct TocEntry {
  int level = 1;        // 1 for the outermost list
  std::string anchor;   // the document's anchor name
  std::string caption;  // plain text
};

// What the reader pages take from one document of an act.
struct ReaderDocument {
  std::string storedName;
  std::string title;              // of its title tag, plain text
  std::string navigation;         // navigation line (upper case)
  std::vector<TocEntry> contents;
  ActText text;
};
// Reads the document of a version whole; nothing when the item is missing.
std::optional<ReaderDocument> ReadReaderDocument(const CSrvSrv& catalogue, DWORD index);

// The entries of a document's "<!--TOC" page (plain text captions, the
// anchor behind "#"), at most kMaxTocEntries.
constexpr std::size_t kMaxTocEntries = 5000;
std::vector<TocEntry> ReadTocEntries(std::string_view document);

// A court ruling on the act, as far as the reader pages show it.
struct ReaderRuling {
  DWORD index = 0;
  std::string title;                  // plain text
  ActText section;                    // the part shown beside the provisions
  bool wholeAct = false;              // a reference to the whole act
  std::vector<ProvisionPath> places;  // the provisions it names, in order, without repeats
};
// Only so much of a ruling's section is shown beside a provision.
constexpr std::size_t kMaxSectionBytes = 4000;
// The rulings of the act whose document is named `storedName`, in the
// catalogue's order; at most kMaxRulings.
constexpr std::size_t kMaxRulings = 500;
std::vector<ReaderRuling> ReadRulings(const CSrvSrv& catalogue, std::string_view storedName);

// A related act: the acts sharing the key of the navigation line's
// LINKEDDOC value, one entry per act (its latest document), without `self`.
struct RelatedAct {
  ActAddress address;
  std::string title;  // plain text
};
constexpr std::size_t kMaxRelated = 200;
std::vector<RelatedAct> ReadRelatedActs(const CSrvSrv& catalogue, const ReaderDocument& document,
                                        const ActAddress& self);

// The title an act shows: the text behind the citation and " - " of its
// title tag, without a trailing "(zmiana: ...)"; the whole title otherwise.
std::string ShortTitle(std::string_view title);

}  // namespace portico
