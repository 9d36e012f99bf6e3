// Reading the plain-text acts and rulings of demo/corpus (windows-1250, a
// header of "Key: value" lines, an empty line, then the text) into the parts
// the document markup needs: headings, articles and their units for acts;
// the text and the acts it concerns for rulings. Used by the demo builder and
// by the synthetic generator (which takes its vocabulary from the acts).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "demo/act_name.h"

namespace vamucorpus {

// One block of an act's text, in text order.
struct ActBlock {
  enum Kind {
    Text,     // lines before the first heading or article (title lines, preamble)
    Heading,  // "Rozdział I" + title, "DZIAŁ II" + title, or a line in capitals
    Article   // "Art. N." and its units, one unit per line
  };
  Kind kind = Text;
  std::string number;               // articles: "5", "22^1", "37a"
  std::vector<std::string> lines;   // articles: the unit lines, without the "Art. N." line
};

struct ActText {
  std::string title;        // header "Title"
  std::string textVersion;  // header "Text-version": which text this is
  ActRef ref;               // from the header "Journal": "Dz.U. 1997 nr 78 poz. 483"
  std::vector<ActBlock> blocks;
  std::size_t ArticleCount() const;
  // The article with this number ("55", "22^1"), or null.
  const ActBlock* FindArticle(const std::string& number) const;
};

// One place in an act that a ruling concerns, already in the form of a
// ruling reference: "O" (the whole act), "ART.146UST3", "ART.11§2PKT4",
// "ART.424(1)", "ART.87-94".
struct Concern {
  ActRef act;                          // journal, year, number, position as cited
  std::vector<std::string> locations;  // as above; empty when no place could be read
  std::vector<std::string> cited;      // the places as the ruling's header writes them
};

struct RulingText {
  std::string file;        // corpus file name, e.g. "tk_K_2_09.txt"
  std::map<std::string, std::string> header;  // the first value of each header key
  std::vector<Concern> concerns;
  std::vector<std::string> lines;  // the text, line by line
  std::string Field(const std::string& key) const;
  int Year() const;  // year of the header "Date" (2011-06-15 -> 2011), 0 when none
};

// Both return false when the file cannot be read or has no header.
bool ReadAct(const std::string& path, ActText& act);
bool ReadRuling(const std::string& path, RulingText& ruling);

// "Dz.U. 1997 nr 78 poz. 483" -> {'D', 97, 78, 483}; false when it is not such a citation.
bool ParseJournalCitation(const std::string& text, ActRef& ref);
// The places of one "Concerns" list ("art. 146 ust. 3, art. 87-94; art. 424(1)")
// in reference form. Places that cannot be written as one (articles with a
// letter suffix, sentences, letters) are left out; `cited` gets every place read.
std::vector<std::string> ParseLocations(const std::string& list, std::vector<std::string>* cited = nullptr);

// Every ".txt" file of a directory, sorted by name.
std::vector<std::string> TextFilesIn(const std::string& dir);

}  // namespace vamucorpus
