// Fragments of documents for the result list of a search: about 200
// characters of a document's text around the first place where the words of
// the query stand (where they stand nearest together, when there are
// several), the query's words in <B>, markup removed and the text
// HTML-escaped, so that a reader sees why the document was found.
//
// Words are counted as the index tokenizer cuts them (word_tokenizer.h), so
// that a place told by the word positions of a base (the ordinals of its
// positions file) is a place here. A place in the body of a document is
// preferred to one in its head (title, table of contents), which the result
// list shows otherwise.
//
//   CFragmentTerms terms;
//   std::size_t t = terms.AddTerm();
//   terms.AddWord(t, "UMOWA");
//   terms.AddWord(t, "UMOWY");
//   std::string html = MakeFragment(documentBytes, terms);
//
// Pure text operations; thread-safe on distinct objects.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

// Characters of document text a fragment shows at most (the words of a
// place that is longer are cut there).
constexpr std::size_t kFragmentChars = 200;
// Words behind a place that always give enough context to fill a fragment.
constexpr std::size_t kFragmentContextWords = 100;

// The terms of a query that a fragment looks for and shows in bold: each
// term is a set of words (upper-case) and wildcard patterns.
class CFragmentTerms {
 public:
  std::size_t AddTerm() { return m_nTerms++; }
  void AddWord(std::size_t term, std::string word);
  void AddPattern(std::size_t term, std::string pattern);
  std::size_t Count() const { return m_nTerms; }
  // Appends the terms an upper-case word belongs to.
  void Match(std::string_view word, std::vector<std::size_t>& terms) const;
  bool Matches(std::string_view word) const;

 private:
  std::size_t m_nTerms = 0;
  std::unordered_map<std::string, std::vector<std::size_t>> m_words;
  std::vector<std::pair<std::string, std::size_t>> m_patterns;
};

// The first and last word (ordinals) of a place in a document.
struct FragmentPlace {
  DWORD first = 0;
  DWORD last = 0;
};

// The place where one occurrence of every term that stands in the document
// is covered by the fewest words, the first such place when several are as
// short. occurrences[t] holds the ascending ordinals of term t; only
// ordinals from `from` on count. Nothing when no term stands there.
std::optional<FragmentPlace> NearestPlace(const std::vector<std::vector<DWORD>>& occurrences, DWORD from = 0);

// The words of a document's text (or of a prefix of it) with their raw
// extents, as the index tokenizer finds them.
class CDocWords {
 public:
  // Reads raw windows-1250 HTML. When it is a prefix (`whole` false), a word
  // that reaches its end may be cut and is left out.
  void Read(std::string_view raw, bool whole);
  std::size_t Count() const { return m_words.size(); }
  // Raw extent of word i: [Start, LetterEnd) holds its letters (and any tags
  // between them).
  std::size_t Start(std::size_t i) const { return m_words[i].start; }
  std::size_t LetterEnd(std::size_t i) const { return m_words[i].letterEnd; }
  // Upper-case, tags between its letters removed.
  std::string_view Text(std::size_t i) const { return m_words[i].text; }
  // The first word behind the document's <BODY> tag; Count() when the text
  // read has none.
  std::size_t BodyStart() const { return m_nBody; }
  bool BodyFound() const { return m_bBody; }

 private:
  struct Word {
    std::size_t start, letterEnd;
    std::string text;
  };
  std::vector<Word> m_words;
  std::size_t m_nBody = 0;
  bool m_bBody = false;
};

// The fragment around `place` (word ordinals of `words`, read from `raw`):
// HTML, at most about maxChars characters of text, every word that a term
// matches in <B>, "..." where text is left out before or after. Entity
// references of the document (&nbsp;, &#261;) pass as they are and count as
// one character; every other '&', '<', '>' and '"' is escaped. The context
// reaches as far as `words` was read: a caller reading a prefix reads
// kFragmentContextWords words behind the place.
std::string RenderFragment(std::string_view raw, const CDocWords& words, FragmentPlace place,
                           const CFragmentTerms& terms, std::size_t maxChars = kFragmentChars);

// Where the terms stand in words: per term, the ascending ordinals.
std::vector<std::vector<DWORD>> FindOccurrences(const CDocWords& words, const CFragmentTerms& terms);

// The place a fragment shows: the nearest place from the body's first word
// on when a term stands there, else anywhere.
std::optional<FragmentPlace> ChoosePlace(const std::vector<std::vector<DWORD>>& occurrences, std::size_t bodyStart);

// The fragment of a whole document; empty when no term stands in it.
std::string MakeFragment(std::string_view raw, const CFragmentTerms& terms);

}  // namespace concorda
