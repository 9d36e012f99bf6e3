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

// Where an operand stands: the first ordinal of each occurrence, ascending.
std::vector<DWORD> Starts(const std::vector<std::vector<DWORD>>& words) {
  std::vector<DWORD> out;
  if (words.empty()) return out;
  for (DWORD s : words[0]) {
    bool all = true;
    for (std::size_t k = 1; k < words.size() && all; ++k)
      all = s + k > s && std::binary_search(words[k].begin(), words[k].end(), static_cast<DWORD>(s + k));
    if (all) out.push_back(s);
  }
  return out;
}

// The ordinals, within the document's words, of each word of both operands.
struct OperandWords {
  std::vector<std::vector<DWORD>> left, right;
};

}  // namespace

bool StandNear(const std::vector<std::vector<DWORD>>& left, const std::vector<std::vector<DWORD>>& right,
               DWORD distance) {
  const std::vector<DWORD> a = Starts(left), b = Starts(right);
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

  // For every candidate, the ordinals of each operand word.
  std::vector<OperandWords> docs(candidates.size());
  for (auto& d : docs) {
    d.left.resize(p.left.words.size());
    d.right.resize(p.right.words.size());
  }
  std::vector<DWORD> ordinals;
  auto gather = [&](const std::vector<std::size_t>& words, bool left, std::size_t k) {
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
        std::vector<DWORD>& into = left ? docs[i].left[k] : docs[i].right[k];
        into.insert(into.end(), ordinals.begin(), ordinals.end());
      }
    }
  };
  for (std::size_t k = 0; k < leftWords.size(); ++k) gather(leftWords[k], true, k);
  for (std::size_t k = 0; k < rightWords.size(); ++k) gather(rightWords[k], false, k);

  ItemSet out;
  DocRecord record;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    file.PrefetchAhead(candidates, i);
    if (!file.ReadDocument(candidates[i], record)) continue;
    // Words only: markup pieces are numbered behind them.
    auto words = [&](std::vector<std::vector<DWORD>>& lists) {
      for (auto& l : lists) {
        std::sort(l.begin(), l.end());
        l.erase(std::lower_bound(l.begin(), l.end(), record.textTokens), l.end());
      }
    };
    words(docs[i].left);
    words(docs[i].right);
    if (StandNear(docs[i].left, docs[i].right, p.distance)) out.push_back(candidates[i]);
  }
  return out;
}

ItemSet ProximityFromDocuments(const Proximity& p, const ItemSet& candidates,
                               const std::function<bool(DWORD, std::string&)>& read, CQueryBudget& budget) {
  ItemSet out;
  CDocPositions doc;
  std::string bytes;
  for (DWORD slot : candidates) {
    budget.ChargeDocumentRead();
    budget.CheckTime();
    if (!read(slot, bytes)) continue;
    doc.Read(bytes.data(), bytes.size());
    OperandWords o;
    o.left.resize(p.left.words.size());
    o.right.resize(p.right.words.size());
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
    if (StandNear(o.left, o.right, p.distance)) out.push_back(slot);
  }
  return out;
}

}  // namespace concorda
