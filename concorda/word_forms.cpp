#include "concorda/word_forms.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <tuple>

#include "concorda/lemmatizer.h"
#include "concorda/query.h"
#include "platform/coding.h"
#include "platform/cp1250.h"

namespace concorda {

namespace {

constexpr std::size_t kLemmaHeader = 16;

// Unsigned byte order, as the word lists are sorted.
int CompareBytes(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (int c = n ? std::memcmp(a.data(), b.data(), n) : 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The folded word compared with a folded text, without making a copy:
// negative, zero or positive; with `prefixOnly` a word that begins with the
// text compares equal.
int CompareFolded(std::string_view word, std::string_view folded, bool prefixOnly) {
  const std::size_t n = std::min(word.size(), folded.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char a = cp1250::FoldMarks(static_cast<unsigned char>(word[i]));
    unsigned char b = static_cast<unsigned char>(folded[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (word.size() == folded.size() || (prefixOnly && word.size() > folded.size())) return 0;
  return word.size() < folded.size() ? -1 : 1;
}

}  // namespace

std::string FoldedText(std::string_view text) {
  std::string out(text);
  cp1250::FoldMarks(out.data(), out.size());
  return out;
}

std::vector<BYTE> BuildLemmaSection(const WordList& words, const CLemmatizer& dictionary, const KnownLemmas* known) {
  std::map<std::string, std::vector<DWORD>> forms;  // ordered: std::string compares bytes unsigned
  std::vector<std::string> asked;
  for (std::size_t i = 0; i < words.count; ++i) {
    const std::string_view word = words.word(i);
    const std::vector<std::string>* lemmas = nullptr;
    if (known)
      if (auto it = known->find(word); it != known->end()) lemmas = &it->second;
    if (!lemmas) {
      asked = dictionary.Lemmas(word);
      lemmas = &asked;
    }
    for (const std::string& lemma : *lemmas) forms[lemma].push_back(static_cast<DWORD>(i));
  }

  std::size_t textBytes = 0, formCount = 0;
  for (const auto& [lemma, list] : forms) {
    textBytes += lemma.size();
    formCount += list.size();
  }
  const std::string& identity = dictionary.Identity();
  const std::size_t lemmas = forms.size();
  std::vector<BYTE> out;
  out.reserve(kLemmaHeader + identity.size() + 8 * (lemmas + 1) + textBytes + 4 * formCount);
  AppendLe32(out, static_cast<DWORD>(lemmas));
  AppendLe32(out, static_cast<DWORD>(formCount));
  AppendLe32(out, static_cast<DWORD>(textBytes));
  AppendLe32(out, static_cast<DWORD>(identity.size()));
  out.insert(out.end(), identity.begin(), identity.end());
  DWORD at = 0;
  for (const auto& entry : forms) {
    AppendLe32(out, at);
    at += static_cast<DWORD>(entry.first.size());
  }
  AppendLe32(out, at);
  at = 0;
  for (const auto& entry : forms) {
    AppendLe32(out, at);
    at += static_cast<DWORD>(entry.second.size());
  }
  AppendLe32(out, at);
  for (const auto& entry : forms) out.insert(out.end(), entry.first.begin(), entry.first.end());
  // Words are visited in number order, so each list is ascending already.
  for (const auto& entry : forms)
    for (DWORD w : entry.second) AppendLe32(out, w);
  return out;
}

std::vector<BYTE> BuildFoldSection(const WordList& words) {
  std::vector<std::string> folded(words.count);
  for (std::size_t i = 0; i < words.count; ++i) folded[i] = FoldedText(words.word(i));
  std::vector<DWORD> order(words.count);
  std::iota(order.begin(), order.end(), 0);
  // Stable: words that fold alike keep their number order.
  std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return folded[a] < folded[b]; });
  std::vector<BYTE> out;
  out.reserve(4 + 4 * words.count);
  AppendLe32(out, static_cast<DWORD>(words.count));
  for (DWORD w : order) AppendLe32(out, w);
  return out;
}

bool CWordForms::LoadLemmas(std::vector<BYTE> section, const WordList& words, std::string* why) {
  m_bLemmas = false;
  m_words = words;
  auto fail = [why](const char* what) {
    if (why) *why = std::string("lemma table: ") + what;
    return false;
  };
  if (section.empty()) return true;
  const std::size_t n = section.size();
  if (n < kLemmaHeader) return fail("shorter than its header");
  const BYTE* p = section.data();
  const ULONGLONG lemmas = DecodeLe32(p), forms = DecodeLe32(p + 4), text = DecodeLe32(p + 8),
                  identity = DecodeLe32(p + 12);
  const ULONGLONG need = kLemmaHeader + identity + 8 * (lemmas + 1) + text + 4 * forms;
  if (need != n) return fail("its lengths do not add up to its size");
  const BYTE* lemmaStarts = p + kLemmaHeader + identity;
  const BYTE* formStarts = lemmaStarts + 4 * (lemmas + 1);
  const BYTE* lemmaText = formStarts + 4 * (lemmas + 1);
  const BYTE* formList = lemmaText + text;
  std::string_view previous;
  for (std::size_t i = 0; i < lemmas; ++i) {
    const DWORD s = DecodeLe32(lemmaStarts + 4 * i), e = DecodeLe32(lemmaStarts + 4 * i + 4);
    const DWORD fs = DecodeLe32(formStarts + 4 * i), fe = DecodeLe32(formStarts + 4 * i + 4);
    if (s > e || e > text || fs > fe || fe > forms) return fail("an offset out of order or out of bounds");
    std::string_view lemma(reinterpret_cast<const char*>(lemmaText) + s, e - s);
    if (lemma.empty() || (i > 0 && CompareBytes(previous, lemma) >= 0)) return fail("the lemmas are not ascending");
    previous = lemma;
  }
  if (DecodeLe32(lemmaStarts + 4 * lemmas) != text || DecodeLe32(formStarts + 4 * lemmas) != forms ||
      (lemmas > 0 && (DecodeLe32(lemmaStarts) != 0 || DecodeLe32(formStarts) != 0)))
    return fail("the offsets do not span the text and the forms");
  for (std::size_t i = 0; i < lemmas; ++i) {
    const DWORD fs = DecodeLe32(formStarts + 4 * i), fe = DecodeLe32(formStarts + 4 * i + 4);
    for (DWORD k = fs; k < fe; ++k) {
      const DWORD w = DecodeLe32(formList + 4 * static_cast<std::size_t>(k));
      if (w >= words.count) return fail("a form names no word");
      if (k > fs && w <= DecodeLe32(formList + 4 * static_cast<std::size_t>(k) - 4))
        return fail("the forms of a lemma are not ascending");
    }
  }
  m_strDictionary.assign(reinterpret_cast<const char*>(p) + kLemmaHeader, identity);
  // Moving the vector hands its buffer over: the pointers stay valid.
  m_lemmas = std::move(section);
  m_lemmaStarts = lemmaStarts;
  m_formStarts = formStarts;
  m_lemmaText = lemmaText;
  m_forms = formList;
  m_nLemmas = lemmas;
  m_bLemmas = true;
  return true;
}

bool CWordForms::LoadFolds(std::vector<BYTE> section, const WordList& words, std::string* why) {
  m_bFolds = false;
  m_words = words;
  auto fail = [why](const char* what) {
    if (why) *why = std::string("fold table: ") + what;
    return false;
  };
  if (section.empty()) return true;
  if (section.size() < 4 || DecodeLe32(section.data()) != words.count ||
      section.size() != 4 + 4 * static_cast<ULONGLONG>(words.count))
    return fail("its length does not fit the word list");
  const BYTE* order = section.data() + 4;
  std::vector<bool> seen(words.count);
  std::string previous, current;
  for (std::size_t k = 0; k < words.count; ++k) {
    const DWORD w = DecodeLe32(order + 4 * k);
    if (w >= words.count || seen[w]) return fail("a word number out of bounds or given twice");
    seen[w] = true;
    current = FoldedText(words.word(w));
    if (k > 0 && CompareBytes(previous, current) > 0) return fail("the words are not in folded order");
    previous.swap(current);
  }
  m_folds = std::move(section);
  m_bFolds = true;
  return true;
}

std::string_view CWordForms::Lemma(std::size_t i) const {
  if (!m_bLemmas || i >= m_nLemmas) return {};
  const DWORD s = DecodeLe32(m_lemmaStarts + 4 * i), e = DecodeLe32(m_lemmaStarts + 4 * i + 4);
  return std::string_view(reinterpret_cast<const char*>(m_lemmaText) + s, e - s);
}

void CWordForms::AppendForms(std::string_view lemma, std::vector<DWORD>& out) const {
  if (!m_bLemmas) return;
  std::size_t lo = 0, hi = m_nLemmas;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (CompareBytes(Lemma(mid), lemma) < 0) lo = mid + 1;
    else hi = mid;
  }
  if (lo == m_nLemmas || Lemma(lo) != lemma) return;
  const DWORD fs = DecodeLe32(m_formStarts + 4 * lo), fe = DecodeLe32(m_formStarts + 4 * lo + 4);
  for (DWORD k = fs; k < fe; ++k) out.push_back(DecodeLe32(m_forms + 4 * static_cast<std::size_t>(k)));
}

void CWordForms::AppendFoldedLemmas(std::string_view word, std::vector<std::string>& out) const {
  if (!m_bLemmas || word.empty()) return;
  const std::string folded = FoldedText(word);
  for (std::size_t i = 0; i < m_nLemmas; ++i) {
    const std::string_view lemma = Lemma(i);
    if (CompareFolded(lemma, folded, false) == 0) out.emplace_back(lemma);
  }
}

DWORD CWordForms::FoldEntry(std::size_t k) const { return DecodeLe32(m_folds.data() + 4 + 4 * k); }

std::pair<std::size_t, std::size_t> CWordForms::FoldRange(std::string_view folded, bool whole) const {
  const std::size_t n = m_words.count;
  auto word = [this](std::size_t k) { return m_words.word(FoldEntry(k)); };
  std::size_t lo = 0, hi = n;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (CompareFolded(word(mid), folded, !whole) < 0) lo = mid + 1;
    else hi = mid;
  }
  std::size_t first = lo;
  hi = n;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (CompareFolded(word(mid), folded, !whole) <= 0) lo = mid + 1;
    else hi = mid;
  }
  return {first, lo};
}

void CWordForms::AppendFolded(std::string_view word, std::vector<DWORD>& out) const {
  if (!m_bFolds || word.empty()) return;
  auto [first, last] = FoldRange(FoldedText(word), true);
  for (std::size_t k = first; k < last; ++k) out.push_back(FoldEntry(k));
}

std::size_t CWordForms::AppendFoldedPattern(std::string_view pattern, std::vector<DWORD>& out) const {
  if (!m_bFolds || pattern.empty()) return 0;
  const std::string folded = FoldedText(pattern);
  const std::size_t literal = folded.find_first_of("*?");
  std::size_t first = 0, last = m_words.count;
  if (literal != 0) std::tie(first, last) = FoldRange(std::string_view(folded).substr(0, literal), false);
  std::string word;
  for (std::size_t k = first; k < last; ++k) {
    const DWORD w = FoldEntry(k);
    word = FoldedText(m_words.word(w));
    if (MatchPattern(folded.c_str(), word.c_str())) out.push_back(w);
  }
  return last - first;
}

}  // namespace concorda
