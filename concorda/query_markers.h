// The markers of the word query language that make one query word stand for
// more words of the index: "~umowa" for every form of the word (umowy,
// umowie, umową, ...; lemma table of word_forms.h) and "^lodz" for every word
// that reads the same without the marks of its letters (łódź, Łódź). A
// marker stands directly before a word, both may be given ("~^umowe"); a
// marker standing anywhere else is a separator, as every byte that is no
// letter, digit or wildcard always was.
//
// The Search page's fields "Formy=1" and "BezZnakow=1" put the markers
// before every plain word of a pattern (MarkPlainWords).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace concorda {

constexpr char kFormsMarker = '~';
constexpr char kFoldMarker = '^';

inline bool IsMarker(unsigned char c) { return c == kFormsMarker || c == kFoldMarker; }

// The number of markers at the front of text when a word (letters, digits,
// wildcards) follows them; 0 otherwise (markers standing alone part words,
// as every other byte that is no letter, digit or wildcard).
std::size_t MarkersBeforeWord(std::string_view text);

// A query token with its markers taken off the front.
struct MarkedTerm {
  std::string_view word;
  bool forms = false;
  bool fold = false;
  bool Marked() const { return forms || fold; }
};
MarkedTerm SplitMarkers(std::string_view token);

// The pattern with a marker put before every plain word outside quotes:
// words that are no operator (I, NIE, LUB, BLISKO/n in any case), carry no
// marker yet and do not begin with a digit; the forms marker also passes
// over words with wildcards, which are patterns of their own. Phrases are
// left as written: a quotation asks for exactly its words. The rest of the
// pattern keeps its bytes.
std::string MarkPlainWords(std::string_view pattern, bool forms, bool fold);

// The terms of an upper-cased query text (phrases rewritten, as PrepareQuery
// leaves it) that the documents found may hold: every term but the operands
// of NIE, each once, markers kept, in the order they first stand.
std::vector<std::string> PositiveTerms(std::string_view text);

}  // namespace concorda
