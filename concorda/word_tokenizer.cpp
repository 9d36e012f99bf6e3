#include "concorda/word_tokenizer.h"

#include <cstring>
#include <vector>

#include "platform/exceptions.h"

namespace concorda {

namespace {

// First '>' in [p, end), or null.
char* FindTagEnd(char* p, char* end) {
  return static_cast<char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
}

// Removes every tag (from '<' to the next '>', or to the end when it is not
// closed) from word[0, n) in place; returns the new length.
DWORD StripTags(char* word, DWORD n) {
  DWORD out = 0;
  for (DWORD i = 0; i < n; ++i) {
    if (word[i] == '<') {
      while (i < n && word[i] != '>') ++i;
      continue;  // the '>' (or the end) is skipped by the loop
    }
    word[out++] = word[i];
  }
  word[out] = '\0';
  return out;
}

}  // namespace

bool FindWordSpan(char* text, DWORD length, WordSpan& span) {
  char* p = text;
  char* const end = text + length;

  // Find the first byte of a word, skipping tags and separators.
  for (;;) {
    if (p >= end) return false;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '<') {
      char* close = FindTagEnd(p, end);
      if (!close || close + 1 >= end) return false;
      p = close + 1;
    } else if (IsWordChar(c)) {
      break;
    } else {
      ++p;
    }
  }

  // Scan the word; tags inside a run of word characters do not end it.
  char* cur = p;
  bool tagMet = false;
  while (cur < end) {
    bool stop = false;
    while (cur < end && *cur == '<') {
      tagMet = true;
      char* close = FindTagEnd(cur, end);
      cur = close ? close + 1 : end;
      if (cur >= end) {
        stop = true;
        break;
      }
    }
    if (stop || !IsWordChar(static_cast<unsigned char>(*cur))) break;
    ++cur;
  }
  span.start = p;
  span.end = cur;
  span.tagged = tagMet;
  return true;
}

char* NextWordIn(char* text, DWORD length, char** word, DWORD* wordLength, CGrowBlock& scratch) {
  *word = nullptr;
  *wordLength = 0;
  WordSpan span;
  if (!FindWordSpan(text, length, span)) return nullptr;
  DWORD raw = static_cast<DWORD>(span.end - span.start);
  if (!span.tagged) {
    *word = span.start;
    *wordLength = raw;
    return span.end;
  }
  if (!scratch.Reserve(static_cast<std::size_t>(raw) + 1)) throw CMemoryException();
  std::memcpy(scratch.Data(), span.start, raw);
  *wordLength = StripTags(scratch.Data(), raw);
  *word = scratch.Data();
  return span.end;
}

namespace {

// The stop words by first byte, so that a word is compared with a few of them
// at most (every distinct word of every document passes this test).
struct StopWordIndex {
  std::vector<std::string_view> byFirst[256];
  StopWordIndex() {
    for (const char* const* s = kStopWords; *s; ++s) byFirst[static_cast<unsigned char>(**s)].emplace_back(*s);
  }
};

}  // namespace

bool IsStopWord(std::string_view word) {
  static const StopWordIndex index;
  if (word.empty()) return false;
  for (std::string_view s : index.byFirst[static_cast<unsigned char>(word[0])])
    if (s == word) return true;
  return false;
}

bool IsAdmitted(std::string_view word) {
  if (word.empty()) return false;
  if (cp1250::IsDigit(static_cast<unsigned char>(word[0]))) {
    for (char c : word)
      if (!cp1250::IsDigit(static_cast<unsigned char>(c))) return false;
    return true;
  }
  return word.size() > 1 && !IsStopWord(word);
}

}  // namespace concorda
