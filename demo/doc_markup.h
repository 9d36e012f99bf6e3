// The markup of the documents in a base, as the pages of the site read it:
// acts (title with their citation, navigation line, table of contents,
// footer, article headings "<P>Art. N." with paragraphs "1." / "§ 1." and
// points "1)"), rulings (references in "<META KEYS=", the ruling between
// "<!--BEGIN-->" and "<!--END-->" behind a named anchor), the list of rulings
// of an act, and the lines of the contents files of the contents tree.
// Everything is windows-1250. Used by the demo builder and the generator.
#pragma once

#include <string>
#include <vector>

#include "demo/act_name.h"
#include "demo/corpus_text.h"

namespace vamucorpus {

// One item of a base: its name (with extension), its key string
// (';'-separated, may be empty) and its bytes.
struct Document {
  std::string name;
  std::string keys;
  std::string data;
};

// The anchor of the ruling section in every ruling document; the ruling
// references point at it.
inline constexpr const char* kRulingAnchor = "SENT";

// One version of an act. `act` holds the text of this version; `version` is
// the act that gave it this text (act.ref itself for the first text);
// `relatedKey` is the key the act shares with its related acts (empty: none).
Document ActDocument(const ActText& act, const ActRef& version, const std::string& relatedKey);

// The title an act's version carries: "Dz.U.97.78.483 - Konstytucja ...",
// with " (zmiana: Dz.U.09.114.946)" for a version after an amendment.
std::string ActTitle(const ActText& act, const ActRef& version);

// What a ruling document is made of.
struct RulingDoc {
  std::string name;                 // RulingName(...)
  std::string title;
  std::vector<std::string> details; // "Sąd: ...", "Sygnatura: ..." lines
  struct Act {
    ActRef ref;
    std::string title;                   // the act's title, for the reader
    std::string docName;                 // the act's document to link to (by name)
    std::vector<std::string> locations;  // reference form, see Concern
    std::vector<std::string> cited;      // as written, for the reader
  };
  std::vector<Act> acts;                 // the acts of the bases it concerns
  std::vector<std::string> sentence;     // the ruling itself (placed between the markers)
  std::vector<std::string> reasons;      // the rest of the text
  std::string source;                    // where the text comes from (footer)
};
Document RulingDocument(const RulingDoc& ruling);

// The list of the rulings on one act, shown by the "Orzeczenia" button.
struct RulingsListEntry {
  std::string name;   // the ruling's item name
  std::string title;
  std::string places; // "art. 146 ust. 3, art. 153" (may be empty)
};
Document RulingsListDocument(const ActRef& act, const std::string& actTitle,
                             const std::vector<RulingsListEntry>& rulings);

// Lines of a contents file ("Spis<name>.toc" in the contents catalogue).
// A node without link, with its children in another contents file:
std::string ContentsGroupLines(const std::string& caption, const std::string& childFile);
// The splice directive that the contents tree replaces by the act's node:
std::string ContentsActLines(const ActRef& act);

// HTML escaping of text taken from the corpus (&, <, >, ").
std::string Escape(const std::string& text);

}  // namespace vamucorpus
