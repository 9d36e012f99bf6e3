// Where each word of one document stands: the words as the index tokenizer
// cuts them (word_tokenizer.h), numbered in their order (the token ordinals,
// 0 for the first word), and after them the pieces of markup text (names
// and values inside tags, and whatever the tokenizer never reaches behind an
// unclosed tag), numbered on from the last word. For every word or piece it
// also tells whether the next one follows after exactly one blank (or '@',
// the byte a blank of a phrase also matches) and nothing else, and which
// words have a tag between their letters ("UST<B>AWA").
//
// That is what a phrase search needs to decide, from the positions alone,
// whether the bytes of a phrase of whole words stand in the raw document
// (query.h, ContainsPhrase): a phrase can only match inside a run of word
// bytes and single blanks, and such a run is a sequence of words (or of
// markup pieces) joined by single blanks.
//
// The indexer reads every document once with it: the words and their
// counts go to the word index, the positions to the companion file
// (positions_file.h). One object is reused from document to document;
// not thread-safe (one per thread).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

class CDocPositions {
 public:
  struct Word {
    std::string_view text;               // upper-case; valid until the next Read
    std::span<const DWORD> ordinals;     // ascending: its places as a word, then as a markup piece
    DWORD textCount = 0;                 // how many of the ordinals are words (below TextTokens())
    DWORD hash = 0;                      // WordHash(text)
    // After Code: where its ordinals, coded, lie in CodedOrdinals().
    std::size_t codedAt = 0, codedLength = 0;
  };

  // Reads a document's raw bytes (windows-1250 HTML, any byte allowed).
  void Read(const char* raw, std::size_t length);

  // The distinct words and pieces, in the order they first occur.
  std::size_t WordCount() const { return m_nWords; }
  const Word& WordAt(std::size_t i) const { return m_words[i]; }
  // Words (ordinals 0 .. TextTokens()-1) and markup pieces (after them).
  DWORD TextTokens() const { return m_nText; }
  DWORD MarkupPieces() const { return m_nMarkup; }
  // Bit k (of byte k / 8, least significant first): ordinal k is joined to k + 1.
  const std::vector<BYTE>& Joined() const { return m_joined; }
  bool IsJoined(DWORD ordinal) const { return ordinal / 8 < m_joined.size() && (m_joined[ordinal / 8] >> (ordinal % 8) & 1); }
  // Ordinals of the words with a tag between their letters, ascending, and
  // for each the byte lengths of its pieces (the letters between the tags),
  // all of them one after the other: PieceCounts()[k] pieces for Split()[k].
  const std::vector<DWORD>& Split() const { return m_split; }
  const std::vector<DWORD>& PieceCounts() const { return m_pieceCounts; }
  const std::vector<DWORD>& PieceLengths() const { return m_pieceLengths; }

  // Codes what the positions file keeps of the document (positions_format.h):
  // each word's ordinals (varint deltas) and the document's record. Done by
  // the threads that read the documents, so that the one that writes them
  // only copies it. Valid until the next Read.
  void Code();
  bool IsCoded() const { return m_isCoded; }
  std::span<const BYTE> CodedOrdinals(const Word& w) const { return {m_coded.data() + w.codedAt, w.codedLength}; }
  std::span<const BYTE> Record() const { return m_record; }

 private:
  struct Span {
    std::size_t start, end;
    bool tagged;
  };
  void AddOccurrence(std::string_view text, bool isText);
  void Grow();
  void GatherOrdinals();
  void MarkupPiecesIn(std::size_t from, std::size_t to);

  std::string m_text;      // the document, upper-cased
  std::string m_stripped;  // words with tags taken out (reserved whole, so views stay valid)
  std::vector<Span> m_spans;
  std::vector<Word> m_words;  // the first m_nWords are in use; the rest keep their capacity
  std::size_t m_nWords = 0;
  // The word of every ordinal, in order, while the document is read; then
  // every word's ordinals one word after the other (what Word::ordinals
  // views). One array written in order instead of a vector per word, whose
  // ends lie all over memory.
  std::vector<DWORD> m_wordOf;
  std::vector<DWORD> m_ordinals;
  std::vector<DWORD> m_runEnds;  // GatherOrdinals' cursors
  std::vector<DWORD> m_slots;  // open addressing: 1 + index into m_words, 0 free
  std::vector<DWORD> m_pieceEnds;  // end of each markup piece, for the joins
  std::vector<std::size_t> m_pieceStarts;
  DWORD m_nText = 0;
  DWORD m_nMarkup = 0;
  std::vector<BYTE> m_joined;
  std::vector<DWORD> m_split;
  std::vector<DWORD> m_pieceCounts;
  std::vector<DWORD> m_pieceLengths;
  std::vector<BYTE> m_coded;   // the words' ordinals, coded
  std::vector<BYTE> m_record;  // the document's record, coded
  bool m_isCoded = false;
};

}  // namespace concorda
