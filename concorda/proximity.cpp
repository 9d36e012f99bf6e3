#include "concorda/proximity.h"

#include <algorithm>
#include <memory>

#include "concorda/doc_positions.h"
#include "concorda/term_words.h"
#include "concorda/word_tokenizer.h"

namespace concorda {

namespace {

// Whether a word of a document stands for word `k` of an operand: a term
// names indexed words only; a phrase's words are any words.
bool Names(const ProximityOperand& op, std::size_t k, std::string_view word) {
  if (!op.phrase && !IsAdmitted(word)) return false;
  if (k < op.expanded.size() && op.expanded[k])
    return std::binary_search(op.expanded[k]->begin(), op.expanded[k]->end(), word);
  return TermNamesWord(op.words[k], word);
}

// Where an operand stands: the first ordinal of each occurrence, ascending,
// into `out` (a buffer reused from document to document).
void Starts(const std::vector<std::vector<DWORD>>& words, std::vector<DWORD>& out) {
  out.clear();
  if (words.empty()) return;
  for (DWORD s : words[0]) {
    bool all = true;
    for (std::size_t k = 1; k < words.size() && all; ++k)
      all = s + k > s && std::binary_search(words[k].begin(), words[k].end(), static_cast<DWORD>(s + k));
    if (all) out.push_back(s);
  }
}

// The buffers of StandNear, kept by a caller that decides many documents:
// allocating them for every candidate cost more than deciding it.
struct NearScratch {
  std::vector<DWORD> a, b;
};

bool StandNearWith(const std::vector<std::vector<DWORD>>& left, const std::vector<std::vector<DWORD>>& right,
                   DWORD distance, NearScratch& scratch) {
  Starts(left, scratch.a);
  Starts(right, scratch.b);
  const std::vector<DWORD>& a = scratch.a;
  const std::vector<DWORD>& b = scratch.b;
  const ULONGLONG la = left.size(), lb = right.size();
  for (DWORD s : a) {
    // The nearest occurrence of the other behind this one, and before it.
    auto after = std::lower_bound(b.begin(), b.end(), ULONGLONG(s) + la,
                                  [](DWORD x, ULONGLONG v) { return ULONGLONG(x) < v; });
    if (after != b.end() && ULONGLONG(*after) - (ULONGLONG(s) + la) <= distance) return true;
    if (ULONGLONG(s) >= lb) {
      auto before = std::upper_bound(b.begin(), b.end(), ULONGLONG(s) - lb,
                                     [](ULONGLONG v, DWORD x) { return v < ULONGLONG(x); });
      if (before != b.begin() && ULONGLONG(s) - (ULONGLONG(*(before - 1)) + lb) <= distance) return true;
    }
  }
  return false;
}

// The places of one operand word in all the candidates, gathered from the
// postings of the words it names: candidate index in the high half, ordinal
// in the low half, so that sorting orders them by candidate, then ordinal.
// One array for all candidates instead of a list per candidate.
using Places = std::vector<ULONGLONG>;

// Copies the ordinals below `limit` of candidate `i` from `places`, starting
// at `at` (advanced past the candidate), into `out`, ascending.
void TakePlaces(const Places& places, std::size_t& at, std::size_t i, DWORD limit, std::vector<DWORD>& out) {
  out.clear();
  while (at < places.size() && (places[at] >> 32) < i) ++at;
  for (; at < places.size() && (places[at] >> 32) == i; ++at) {
    const DWORD ordinal = static_cast<DWORD>(places[at]);
    if (ordinal < limit) out.push_back(ordinal);
  }
}

// The ordinals, within the document's words, of each word of both operands.
struct OperandWords {
  std::vector<std::vector<DWORD>> left, right;
};

}  // namespace

bool StandNear(const std::vector<std::vector<DWORD>>& left, const std::vector<std::vector<DWORD>>& right,
               DWORD distance) {
  NearScratch scratch;
  return StandNearWith(left, right, distance, scratch);
}

ItemSet ProximityFromFile(const CPositionsFile& file, const Proximity& p, const ItemSet& candidates,
                          CQueryBudget& budget) {
  // The words of the file each operand word names.
  auto resolve = [&](const ProximityOperand& op, std::size_t k) {
    std::vector<std::size_t> words;
    const std::string& w = op.words[k];
    if (k < op.expanded.size() && op.expanded[k]) {
      for (const std::string& form : *op.expanded[k]) {
        std::size_t i = file.Find(form);
        if (i != CPositionsFile::npos && Names(op, k, file.Word(i))) words.push_back(i);
      }
    } else if (!HasWildcard(w)) {
      std::size_t i = file.Find(w);
      if (i != CPositionsFile::npos && Names(op, k, file.Word(i))) words.push_back(i);
    } else {
      const std::size_t star = w.find_first_of("*?");
      std::pair<std::size_t, std::size_t> range{0, file.WordCount()};
      if (star > 0) range = file.PrefixRange(std::string_view(w).substr(0, star));
      else budget.ChargeTableScan();
      for (std::size_t i = range.first; i < range.second; ++i) {
        if (i % 4096 == 4095) budget.CheckTime();
        if (Names(op, k, file.Word(i))) words.push_back(i);
      }
    }
    budget.ChargeExpandedWords(words.size());
    return words;
  };
  std::vector<std::vector<std::size_t>> leftWords, rightWords;
  for (std::size_t k = 0; k < p.left.words.size(); ++k) leftWords.push_back(resolve(p.left, k));
  for (std::size_t k = 0; k < p.right.words.size(); ++k) rightWords.push_back(resolve(p.right, k));

  // For every operand word, its places in the candidates.
  std::vector<Places> leftPlaces(leftWords.size()), rightPlaces(rightWords.size());
  std::vector<DWORD> ordinals;
  auto gather = [&](const std::vector<std::size_t>& words, Places& places) {
    for (std::size_t word : words) {
      budget.CheckTime();
      const CKept<BYTE> bytes = file.Postings(word);
      CPostingReader reader(bytes.data(), bytes.size());
      Posting posting;
      std::size_t i = 0;
      while (i < candidates.size() && reader.Next(posting)) {
        while (i < candidates.size() && candidates[i] < posting.slot) ++i;
        if (i == candidates.size() || candidates[i] != posting.slot) continue;
        DecodeOrdinals(posting, ordinals);
        for (DWORD ordinal : ordinals) places.push_back(ULONGLONG(i) << 32 | ordinal);
      }
    }
    // Several words (forms, a pattern) each came in candidate order: merge them.
    if (words.size() > 1) std::sort(places.begin(), places.end());
  };
  for (std::size_t k = 0; k < leftWords.size(); ++k) gather(leftWords[k], leftPlaces[k]);
  for (std::size_t k = 0; k < rightWords.size(); ++k) gather(rightWords[k], rightPlaces[k]);

  ItemSet out;
  DocRecord record;
  std::vector<std::vector<DWORD>> left(leftPlaces.size()), right(rightPlaces.size());
  std::vector<std::size_t> leftAt(leftPlaces.size(), 0), rightAt(rightPlaces.size(), 0);
  NearScratch scratch;
  // Of a document only its word count is asked: from the table of word
  // counts when the file has one (four bytes a document, read in order),
  // else from the document's record.
  const bool counted = file.HasWordCounts();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    DWORD words = 0;
    if (counted) {
      words = file.WordCountOf(candidates[i]);  // 0 for a slot without a record: nothing is near there
    } else {
      file.PrefetchAhead(candidates, i);
      if (!file.ReadDocument(candidates[i], record)) continue;
      words = record.textTokens;
    }
    // Words only: markup pieces are numbered behind them.
    for (std::size_t k = 0; k < left.size(); ++k) TakePlaces(leftPlaces[k], leftAt[k], i, words, left[k]);
    for (std::size_t k = 0; k < right.size(); ++k) TakePlaces(rightPlaces[k], rightAt[k], i, words, right[k]);
    if (StandNearWith(left, right, p.distance, scratch)) out.push_back(candidates[i]);
  }
  return out;
}

ItemSet ProximityFromDocuments(const Proximity& p, const ItemSet& candidates,
                               const std::function<bool(DWORD, std::string&)>& read, CQueryBudget& budget) {
  ItemSet out;
  CDocPositions doc;
  std::string bytes;
  OperandWords o;
  o.left.resize(p.left.words.size());
  o.right.resize(p.right.words.size());
  NearScratch scratch;
  for (DWORD slot : candidates) {
    budget.ChargeDocumentRead();
    budget.CheckTime();
    if (!read(slot, bytes)) continue;
    doc.Read(bytes.data(), bytes.size());
    for (auto* lists : {&o.left, &o.right})
      for (auto& l : *lists) l.clear();
    for (std::size_t w = 0; w < doc.WordCount(); ++w) {
      const CDocPositions::Word& word = doc.WordAt(w);
      if (word.textCount == 0) continue;
      auto add = [&](const ProximityOperand& op, std::vector<std::vector<DWORD>>& lists) {
        for (std::size_t k = 0; k < op.words.size(); ++k)
          if (Names(op, k, word.text))
            lists[k].insert(lists[k].end(), word.ordinals.begin(), word.ordinals.begin() + word.textCount);
      };
      add(p.left, o.left);
      add(p.right, o.right);
    }
    for (auto* lists : {&o.left, &o.right})
      for (auto& l : *lists) std::sort(l.begin(), l.end());
    if (StandNearWith(o.left, o.right, p.distance, scratch)) out.push_back(slot);
  }
  return out;
}

}  // namespace concorda
