// CDocServer: word queries and key queries, and the find handles.
#include <algorithm>
#include <memory>
#include <new>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/query.h"
#include "concorda/query_markers.h"
#include "concorda/term_words.h"
#include "concorda/word_tokenizer.h"
#include "platform/message_box.h"

using namespace concorda;

namespace {

// Whether finding the words of a marked term walks the whole word table: a
// folded pattern that begins with a wildcard looks at every word, a forms
// pattern is found as the pattern itself is.
bool MarkedScansWholeTable(std::string_view term) {
  const MarkedTerm t = SplitMarkers(term);
  const std::string word(t.word);
  if (!HasWildcard(word)) return false;
  return t.fold ? word.find_first_of("*?") == 0 : ScansWholeTable(word);
}

}  // namespace

// The most words of a pattern or a marked word whose documents are read
// from their postings (one read each) rather than from the index files.
constexpr std::size_t kPostingsTermWords = 256;

// Evaluates a query against the word table of one CDocServer.
class CDocQuery : public CQueryEvaluator {
 public:
  CDocQuery(CDocServer& server, const PreparedQuery& query, CQueryBudget& budget)
      : CQueryEvaluator(budget), m_s(server), m_query(query) {}

 protected:
  ItemSet TermDocs(const std::string& term) override {
    std::size_t proximity = 0;
    if (IsProximityTerm(term, proximity) && proximity < m_query.proximities.size())
      return ProximityTermDocs(m_query.proximities[proximity]);
    // A marked word ("~umowa", "^lodz") stands for several words, as a
    // pattern does, and is charged and cached alike.
    const bool marked = IsMarker(static_cast<unsigned char>(term[0]));
    if (!marked && !HasWildcard(term)) {
      std::vector<DWORD> items;
      std::size_t i = m_s.Words().Find(term.c_str());
      if (i != CWordTable::npos) m_s.CopyWordItems(i, items);
      ItemSet r;
      AddItems(r, items);
      return r;
    }
    std::shared_ptr<const TermEntry> entry = m_s.m_termCache.Find(term);
    if (entry) {
      // The budget sees the work the term stands for, cached or not, so a
      // query is refused or answered alike every time.
      if (entry->bTableScan) Budget().ChargeTableScan();
      Budget().ChargeExpandedWords(entry->nWords);
      return entry->aItems;
    }
    auto fresh = std::make_shared<TermEntry>();
    fresh->bTableScan = marked ? MarkedScansWholeTable(term) : ScansWholeTable(term);
    if (fresh->bTableScan) Budget().ChargeTableScan();
    std::vector<std::size_t> words;
    if (marked) {
      m_s.FindMarkedWords(term, words, &Budget());
    } else {
      FindTermWords(
          m_s.Words(), [this]() -> const std::vector<DWORD>& { return m_s.SuffixIndex(); }, term, words, &Budget());
    }
    fresh->nWords = words.size();
    Budget().ChargeExpandedWords(words.size());
    std::vector<DWORD> items;
    // A pattern of a few words reads their postings in the positions file,
    // as a single word does (the postings of "kasac*", eleven words, are 18
    // KB; the index files that hold their documents inflate to megabytes).
    // One of many words reads the index files, each of which holds the
    // documents of many words at once.
    const bool fromPostings = words.size() <= kPostingsTermWords;
    for (std::size_t k = 0; k < words.size(); ++k) {
      if (k % 1024 == 1023) Budget().CheckTime();
      if (fromPostings) m_s.CopyWordItems(words[k], items);
      else m_s.CopyTopicItems(words[k], items);
    }
    AddItems(fresh->aItems, items);
    m_s.m_termCache.Store(term, fresh);
    return fresh->aItems;
  }

 private:
  // The documents that may hold an operand: those with its term, or with
  // every plain indexed word of its phrase; false when the index cannot
  // tell (a phrase of words it does not keep).
  bool OperandDocs(const ProximityOperand& op, ItemSet& out) {
    if (!op.phrase) {
      out = Term(op.words[0]);
      return true;
    }
    bool any = false;
    for (const std::string& w : op.words) {
      if (HasWildcard(w) || !IsAdmitted(SplitMarkers(w).word)) continue;
      if (!any) out = Term(w);
      else IntersectWith(out, Term(w));
      any = true;
    }
    return any;
  }

  ItemSet ProximityTermDocs(const Proximity& p) {
    ItemSet left, right;
    const bool hasLeft = OperandDocs(p.left, left), hasRight = OperandDocs(p.right, right);
    ItemSet candidates = hasLeft ? left : right;
    if (hasLeft && hasRight) IntersectWith(candidates, right);
    return m_s.ProximityDocs(p, candidates, Budget());
  }

  CDocServer& m_s;
  const PreparedQuery& m_query;
};

namespace {

CDocServer::FindHandle* MakeHandle(ItemSet& items, WORD* first) {
  if (items.empty()) return CDocServer::NoFind();
  auto* h = new CDocServer::FindHandle;  // no memory: std::bad_alloc, as every list of the query
  h->aItems.swap(items);
  h->dwNext = 1;
  if (first) *first = static_cast<WORD>(h->aItems[0]);
  return h;
}

}  // namespace

BOOL CDocServer::FindDocs(CWordQuery& query, std::vector<DWORD>& items) {
  items.clear();
  if (query.IsRefused()) return FALSE;
  if (query.IsNull()) return TRUE;
  CQueryBudget& budget = query.Budget();
  const PreparedQuery& prepared = query.Prepared();
  try {
    ItemSet r = CDocQuery(*this, prepared, budget).Evaluate(prepared.text);
    FilterPhrases(prepared, r, budget);
    items.swap(r);
    return TRUE;
  } catch (const CQueryOverBudget& e) {
    query.Refuse(e.what());
    items.clear();
    return FALSE;
  }
}

CDocServer::FindHandle* CDocServer::FindFirstDoc(const char* query, WORD* first, BYTE* /*reserved*/) {
  if (!query) return NoFind();
  CQueryBudget budget;
  CWordQuery prepared(query, budget);
  ItemSet r;
  if (!FindDocs(prepared, r)) return NoFind();
  return MakeHandle(r, first);
}

CDocServer::FindHandle* CDocServer::FindFirstDocFromKey(const char* keys, WORD* first) const {
  if (!keys) return NoFind();
  std::vector<DWORD> items;
  ForEachKey(keys, [&](const std::string& key) {
    if (const std::vector<DWORD>* found = m_keys.Find(MakeHash(key.c_str())))
      items.insert(items.end(), found->begin(), found->end());
  });
  ItemSet r;
  AddItems(r, items);
  return MakeHandle(r, first);
}

BOOL CDocServer::FindNextDoc(FindHandle* handle, WORD* next) {
  if (!handle || handle == NoFind()) return FALSE;
  if (handle->dwNext < handle->aItems.size()) {
    *next = static_cast<WORD>(handle->aItems[handle->dwNext++]);
    return TRUE;
  }
  delete handle;
  return FALSE;
}

WORD CDocServer::GetFindItems(FindHandle* handle) {
  if (!handle || handle == NoFind()) return 0;
  return static_cast<WORD>(handle->aItems.size());
}

BOOL CDocServer::FindClose(FindHandle* handle) {
  if (handle && handle != NoFind()) delete handle;
  return TRUE;
}
