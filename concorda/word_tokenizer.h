// What a word is: document text (upper-cased windows-1250 HTML) is cut into
// words with the markup taken out, and a word is admitted to the index or
// refused. CDocServer::NextWord and the document word collector use these;
// the query evaluator applies the same admission rules to query terms, so an
// indexed word and a query word compare byte for byte.
#pragma once

#include <string_view>

#include "concorda/grow_block.h"
#include "platform/cp1250.h"
#include "platform/windows_types.h"

namespace concorda {

// A byte that belongs to a word: a letter or digit of windows-1250. '<' never is.
inline bool IsWordChar(unsigned char c) { return cp1250::IsAlnum(c); }

// Where the next word of text[0, length) lies, as NextWordIn finds it:
// text[start, end) is its raw extent, with the tags inside it and directly
// behind it; `tagged` when a tag lies in that extent. False when no word is
// left. The word positions of a document are read from these extents.
struct WordSpan {
  char* start = nullptr;
  char* end = nullptr;
  bool tagged = false;
};
bool FindWordSpan(char* text, DWORD length, WordSpan& span);

// Finds the next word in text[0, length). Returns the position just past the
// word, from which the next call continues, or null when no word is left
// (then *word is null). A word without markup inside is returned in place and
// not terminated (*word points into text). A word with tags inside (UST<B>AWA)
// is copied into `scratch` with the tags removed and terminated there; it is
// valid until the next call. When the scratch buffer cannot grow, the message
// "No memory in WordMap" is shown and that word is skipped (*word null, the
// result still moves on).
char* NextWordIn(char* text, DWORD length, char** word, DWORD* wordLength, CGrowBlock& scratch);

// Initial size of the scratch buffer.
constexpr DWORD kScratchInitialSize = 300;

// The 79 stop words, upper-case windows-1250, null-terminated list.
extern const char* const kStopWords[];
constexpr int kStopWordCount = 79;

// True when the upper-case word equals one of the stop words.
bool IsStopWord(std::string_view word);

// Admission of an upper-cased word: a number (digits only) is admitted at any
// length; a word that starts with a digit and goes on with anything else is
// refused; otherwise single bytes and stop words are refused.
bool IsAdmitted(std::string_view word);

}  // namespace concorda
