// The two tables that let a query word stand for more words of a base: the
// lemma table (every lemma of the base's words and the words that are its
// forms, so that "~umowa" finds umowy, umowie, umową, ...) and the fold
// table (the words ordered by their letters without marks, so that "^lodz"
// finds ŁÓDŹ and LODZ). Both are built from the words of the positions file
// whenever it is written and kept in it as sections 6 and 7, naming words by
// their number in its word list (docs/formats.md describes them in prose);
// without a file to trust, a query builds them from the word table instead.
//
// Lemma section (all integers 4 bytes, little-endian):
//   0   L, the number of lemmas
//   4   F, the number of form references
//   8   B, the byte length of the lemma text
//   12  D, the byte length of the dictionary's identity
//   16  D bytes: the identity (CLemmatizer::Identity) of the dictionary the
//       table was made with, so that a tool can tell when the dictionary of
//       the queries is another one
//   ..  4(L+1): where each lemma starts in the lemma text, then B
//   ..  4(L+1): where each lemma's forms start in the form list, then F
//   ..  B bytes: the lemmas, upper-case windows-1250, strictly ascending in
//       unsigned byte order, one after the other
//   ..  4F: the forms of each lemma, word numbers, strictly ascending
// A word has as many lemmas as the dictionary gives it and is a form of
// each; words the dictionary does not know are in no lemma.
//
// Fold section:
//   0   N, the number of words (that of the word list)
//   4   4N: every word number once, ordered by the word's letters without
//       marks (cp1250::FoldMarks), then by number; the words that fold to
//       one text, or begin with one folded text, are adjacent.
//
// Threads: a loaded CWordForms is read-only; its members may be called from
// any number of threads. The word list it was loaded with must outlive it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

class CLemmatizer;

// The word list the tables refer to: its size and the word of a number,
// upper-case, ascending.
struct WordList {
  std::size_t count = 0;
  std::function<std::string_view(std::size_t)> word;
};

// The sections' ids in the positions file.
constexpr DWORD kSectionLemmas = 6;
constexpr DWORD kSectionFolds = 7;

// Lemmas of words looked up before (CLemmaLookahead), by word.
using KnownLemmas = std::unordered_map<std::string_view, std::vector<std::string>>;

// Builds the lemma section of a word list; the words `known` holds (when
// given; looked up in the same dictionary) are not asked again.
std::vector<BYTE> BuildLemmaSection(const WordList& words, const CLemmatizer& dictionary,
                                    const KnownLemmas* known = nullptr);
// Builds the fold section of a word list.
std::vector<BYTE> BuildFoldSection(const WordList& words);

// The text folded: every letter without its marks (case kept).
std::string FoldedText(std::string_view text);

class CWordForms {
 public:
  // Takes either section (an empty one is not there) after checking it
  // against the word list: every length, offset and word number in bounds,
  // the lemmas ascending, the fold order in order. False (and the section
  // left out) when it is damaged, *why saying how.
  bool LoadLemmas(std::vector<BYTE> section, const WordList& words, std::string* why);
  bool LoadFolds(std::vector<BYTE> section, const WordList& words, std::string* why);

  bool HasLemmas() const { return m_bLemmas; }
  bool HasFolds() const { return m_bFolds; }
  std::size_t LemmaCount() const { return m_nLemmas; }
  std::string_view Lemma(std::size_t i) const;
  const std::string& DictionaryIdentity() const { return m_strDictionary; }

  // Appends the lemmas that fold to what `word` folds to ("LODZ": ŁÓDŹ);
  // looks at every lemma.
  void AppendFoldedLemmas(std::string_view word, std::vector<std::string>& out) const;
  // Appends the word numbers of the forms of an upper-case lemma (ascending).
  void AppendForms(std::string_view lemma, std::vector<DWORD>& out) const;
  // Appends the numbers of the words that fold to what `word` folds to.
  void AppendFolded(std::string_view word, std::vector<DWORD>& out) const;
  // Appends the numbers of the words whose folded text passes the folded
  // wildcard pattern (MatchPattern); words beginning with the pattern's
  // text before its first wildcard are found by bisection, a pattern that
  // begins with a wildcard looks at every word. Returns the number of words
  // looked at.
  std::size_t AppendFoldedPattern(std::string_view pattern, std::vector<DWORD>& out) const;

 private:
  // [first, last) of the fold order whose folded words begin with `folded`
  // (whole: equal to it).
  std::pair<std::size_t, std::size_t> FoldRange(std::string_view folded, bool whole) const;
  DWORD FoldEntry(std::size_t k) const;

  WordList m_words;
  // Lemma section.
  bool m_bLemmas = false;
  std::vector<BYTE> m_lemmas;
  std::size_t m_nLemmas = 0;
  const BYTE* m_lemmaStarts = nullptr;
  const BYTE* m_formStarts = nullptr;
  const BYTE* m_lemmaText = nullptr;
  const BYTE* m_forms = nullptr;
  std::string m_strDictionary;
  // Fold section.
  bool m_bFolds = false;
  std::vector<BYTE> m_folds;
};

}  // namespace concorda
