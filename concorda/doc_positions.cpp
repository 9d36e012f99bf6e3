#include "concorda/doc_positions.h"

#include <cstring>

#include "concorda/bytes.h"
#include "concorda/word_hash.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

namespace {

bool IsWord(char c) { return IsWordChar(static_cast<unsigned char>(c)); }
// The bytes a blank of a phrase matches (query.h, PhrasePartner).
bool IsBlankOfPhrase(char c) { return c == ' ' || c == '@'; }

}  // namespace

void CDocPositions::Grow() {
  std::vector<DWORD> old;
  old.swap(m_slots);
  m_slots.assign(old.empty() ? 1024 : 2 * old.size(), 0);
  const std::size_t mask = m_slots.size() - 1;
  for (DWORD s : old) {
    if (!s) continue;
    std::size_t i = m_words[s - 1].hash & mask;
    while (m_slots[i]) i = (i + 1) & mask;
    m_slots[i] = s;
  }
}

void CDocPositions::AddOccurrence(std::string_view text, bool isText) {
  if (2 * (m_nWords + 1) > m_slots.size()) Grow();
  const std::size_t mask = m_slots.size() - 1;
  const DWORD hash = WordHash(text);
  std::size_t i = hash & mask;
  for (;; i = (i + 1) & mask) {
    DWORD s = m_slots[i];
    if (!s) break;
    Word& w = m_words[s - 1];
    if (w.hash == hash && w.text == text) {
      m_wordOf.push_back(s - 1);
      if (isText) ++w.textCount;
      return;
    }
  }
  if (m_nWords == m_words.size()) m_words.emplace_back();
  Word& w = m_words[m_nWords++];
  w.text = text;
  w.hash = hash;
  w.textCount = isText ? 1 : 0;
  m_slots[i] = static_cast<DWORD>(m_nWords);
  m_wordOf.push_back(static_cast<DWORD>(m_nWords - 1));
}

void CDocPositions::GatherOrdinals() {
  // Counting sort of the ordinals by word: each word's run starts after the
  // runs of the words before it, and the ordinals, taken in order, land
  // ascending in their word's run.
  std::vector<DWORD>& next = m_runEnds;
  next.assign(m_nWords, 0);
  for (DWORD word : m_wordOf) ++next[word];
  DWORD at = 0;
  for (std::size_t i = 0; i < m_nWords; ++i) {
    const DWORD count = next[i];
    next[i] = at;
    at += count;
  }
  m_ordinals.resize(m_wordOf.size());
  for (DWORD ordinal = 0; ordinal < m_wordOf.size(); ++ordinal) m_ordinals[next[m_wordOf[ordinal]]++] = ordinal;
  // next[i] is now the end of word i's run.
  DWORD start = 0;
  for (std::size_t i = 0; i < m_nWords; ++i) {
    m_words[i].ordinals = std::span<const DWORD>(m_ordinals.data() + start, next[i] - start);
    start = next[i];
  }
}

void CDocPositions::MarkupPiecesIn(std::size_t from, std::size_t to) {
  // Outside the words every word byte is markup text: inside a tag, or
  // behind a tag that is never closed, where the tokenizer stops.
  std::size_t i = from;
  while (i < to) {
    if (!IsWord(m_text[i])) {
      ++i;
      continue;
    }
    std::size_t start = i;
    while (i < to && IsWord(m_text[i])) ++i;
    m_pieceStarts.push_back(start);
    m_pieceEnds.push_back(static_cast<DWORD>(i));
  }
}

void CDocPositions::Read(const char* raw, std::size_t length) {
  m_coded.clear();
  m_record.clear();
  m_isCoded = false;
  m_text.assign(raw, length);
  cp1250::UpperCase(m_text.data(), length);
  m_stripped.clear();
  m_stripped.reserve(length);
  m_spans.clear();
  m_split.clear();
  m_pieceCounts.clear();
  m_pieceLengths.clear();
  m_pieceStarts.clear();
  m_pieceEnds.clear();
  std::fill(m_slots.begin(), m_slots.end(), 0);
  m_nWords = 0;
  m_wordOf.clear();
  m_nText = 0;
  m_nMarkup = 0;

  // The words, as the index tokenizer cuts them.
  char* const base = m_text.data();
  char* p = base;
  DWORD left = static_cast<DWORD>(length);
  WordSpan span;
  while (FindWordSpan(p, left, span)) {
    std::string_view word;
    if (!span.tagged) {
      word = std::string_view(span.start, static_cast<std::size_t>(span.end - span.start));
    } else {
      const std::size_t at = m_stripped.size();
      bool inTag = false;
      for (const char* c = span.start; c < span.end; ++c) {
        if (inTag) inTag = *c != '>';
        else if (*c == '<') inTag = true;
        else m_stripped.push_back(*c);
      }
      word = std::string_view(m_stripped.data() + at, m_stripped.size() - at);
    }
    m_spans.push_back({static_cast<std::size_t>(span.start - base), static_cast<std::size_t>(span.end - base),
                       span.tagged});
    AddOccurrence(word, true);
    ++m_nText;
    left -= static_cast<DWORD>(span.end - p);
    p = span.end;
  }

  // The markup pieces: in the gaps between the words, and in the tags
  // inside a word's extent; a word with letters behind such a tag is split.
  std::size_t pos = 0;
  for (DWORD k = 0; k < m_nText; ++k) {
    const Span& s = m_spans[k];
    MarkupPiecesIn(pos, s.start);
    if (s.tagged) {
      bool inTag = false;
      std::size_t piecesBefore = m_pieceLengths.size();
      DWORD run = 0;  // letters of the word since the last tag
      std::size_t i = s.start;
      while (i < s.end) {
        const char c = m_text[i];
        if (!inTag) {
          if (c == '<') {
            inTag = true;
            if (run) m_pieceLengths.push_back(run);
            run = 0;
          } else {
            ++run;
          }
          ++i;
        } else if (c == '>') {
          inTag = false;
          ++i;
        } else if (IsWord(c)) {
          const std::size_t start = i;
          while (i < s.end && IsWord(m_text[i])) ++i;
          m_pieceStarts.push_back(start);
          m_pieceEnds.push_back(static_cast<DWORD>(i));
        } else {
          ++i;
        }
      }
      if (run) m_pieceLengths.push_back(run);
      const std::size_t pieces = m_pieceLengths.size() - piecesBefore;
      if (pieces >= 2) {
        m_split.push_back(k);
        m_pieceCounts.push_back(static_cast<DWORD>(pieces));
      } else {
        m_pieceLengths.resize(piecesBefore);  // one piece and tags behind it: not split
      }
    }
    pos = s.end;
  }
  MarkupPiecesIn(pos, length);
  m_nMarkup = static_cast<DWORD>(m_pieceStarts.size());
  for (DWORD m = 0; m < m_nMarkup; ++m)
    AddOccurrence(std::string_view(base + m_pieceStarts[m], m_pieceEnds[m] - m_pieceStarts[m]), false);

  // Joins: one blank (or '@') between the last letter of one and the first
  // letter of the next, nothing else.
  m_joined.assign((static_cast<std::size_t>(m_nText) + m_nMarkup + 7) / 8, 0);
  auto join = [&](DWORD ordinal) { m_joined[ordinal / 8] |= static_cast<BYTE>(1u << (ordinal % 8)); };
  for (DWORD k = 0; k + 1 < m_nText; ++k) {
    const std::size_t end = m_spans[k].end;
    if (IsWord(m_text[end - 1]) && end + 1 < length && IsBlankOfPhrase(m_text[end]) && m_spans[k + 1].start == end + 1)
      join(k);
  }
  for (DWORD m = 0; m + 1 < m_nMarkup; ++m) {
    const std::size_t end = m_pieceEnds[m];
    if (end + 1 < length && IsBlankOfPhrase(m_text[end]) && m_pieceStarts[m + 1] == end + 1) join(m_nText + m);
  }
  GatherOrdinals();
}

void CDocPositions::Code() {
  m_coded.clear();
  for (std::size_t i = 0; i < m_nWords; ++i) {
    Word& w = m_words[i];
    w.codedAt = m_coded.size();
    DWORD previous = 0;
    for (std::size_t k = 0; k < w.ordinals.size(); ++k) {
      PutVarint(m_coded, k == 0 ? w.ordinals[k] : w.ordinals[k] - previous);
      previous = w.ordinals[k];
    }
    w.codedLength = m_coded.size() - w.codedAt;
  }
  m_record.clear();
  PutVarint(m_record, m_nText);
  PutVarint(m_record, m_nMarkup);
  m_record.insert(m_record.end(), m_joined.begin(), m_joined.end());
  PutVarint(m_record, static_cast<DWORD>(m_split.size()));
  DWORD previous = 0;
  std::size_t piece = 0;
  for (std::size_t k = 0; k < m_split.size(); ++k) {
    PutVarint(m_record, k == 0 ? m_split[k] : m_split[k] - previous);
    previous = m_split[k];
    PutVarint(m_record, m_pieceCounts[k]);
    for (DWORD n = 0; n < m_pieceCounts[k]; ++n) PutVarint(m_record, m_pieceLengths[piece++]);
  }
  m_isCoded = true;
}

}  // namespace concorda
