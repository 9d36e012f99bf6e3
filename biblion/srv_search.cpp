// CSrvSrv: word and key queries over all bases. A search handle holds one
// entry per base: the base's own query handle and its first result, which
// the base reported with the handle and which is handed out before the
// base is asked for more. Results come base by base, in base-number order.
#include <memory>

#include "biblion/srv_srv.h"
#include "concorda/doc_server.h"
#include "concorda/word_query.h"

namespace {

struct BaseSearch {
  CDocServer::FindHandle* hBase = CDocServer::NoFind();  // NoFind(): no (more) results
  WORD wPending = 0;      // the base's first result ...
  bool bPending = false;  // ... while not yet handed out (slot 0xFFFF is a result too)
  BYTE bFlag = 0;         // the byte given to the base's FindFirstDoc; the base leaves it 0
};

struct Search {
  std::vector<BaseSearch> aBases;

  bool Active(std::size_t i) const { return aBases[i].hBase != CDocServer::NoFind(); }
  ~Search() {
    for (BaseSearch& b : aBases)
      if (b.hBase != CDocServer::NoFind()) CDocServer::FindClose(b.hBase);
  }
};

DWORD Combined(std::size_t base, WORD slot) { return static_cast<DWORD>(base << 16) | slot; }

// Runs `start` on every base and hands out the first result. `start` gets
// (base, &first, &flag) and returns the base's handle.
template <class Start>
void* StartSearch(const std::vector<CDocServer*>& bases, Start start, DWORD* first, BYTE* flag) {
  // Until it is handed to the caller, the handle closes what the bases opened.
  auto search = std::make_unique<Search>();
  search->aBases.resize(bases.size());
  for (std::size_t i = 0; i < bases.size(); ++i) {
    BaseSearch& b = search->aBases[i];
    WORD index = 0;
    b.bFlag = 0;
    b.hBase = start(bases[i], &index, &b.bFlag);
    b.bPending = b.hBase != CDocServer::NoFind();
    b.wPending = index;
  }
  for (std::size_t i = 0; i < bases.size(); ++i) {
    if (!search->Active(i)) continue;
    BaseSearch& b = search->aBases[i];
    if (first) *first = Combined(i, b.wPending);
    if (flag) *flag = b.bFlag;
    b.bPending = false;
    return search.release();
  }
  return CSrvSrv::NoFind();
}

}  // namespace

void* CSrvSrv::FindFirstDoc(const char* query, DWORD* first, BYTE* flag) const {
  return StartSearch(
      m_aBases,
      [query](CDocServer* base, WORD* index, BYTE* byte) { return base->FindFirstDoc(query, index, byte); }, first,
      flag);
}

BOOL CSrvSrv::FindDocuments(const char* query, std::vector<DWORD>& items, std::string* refusal) const {
  items.clear();
  concorda::CQueryBudget budget;
  CWordQuery prepared(query, budget);
  std::vector<DWORD> found;
  for (std::size_t i = 0; i < m_aBases.size(); ++i) {
    if (!m_aBases[i]->FindDocs(prepared, found)) {
      items.clear();
      if (refusal) *refusal = prepared.Refusal();
      return FALSE;
    }
    // Slots are named by their low 16 bits, as the handles of FindFirstDoc name them.
    for (DWORD x : found) items.push_back(Combined(i, static_cast<WORD>(x)));
  }
  return TRUE;
}

void* CSrvSrv::FindFirstDocFromKey(const char* keys, DWORD* first) const {
  return StartSearch(
      m_aBases, [keys](CDocServer* base, WORD* index, BYTE*) { return base->FindFirstDocFromKey(keys, index); },
      first, nullptr);
}

BOOL CSrvSrv::FindNextDoc(void* handle, DWORD* next) {
  if (!handle || handle == NoFind()) return FALSE;
  auto* search = static_cast<Search*>(handle);
  for (std::size_t i = 0; i < search->aBases.size(); ++i) {
    BaseSearch& b = search->aBases[i];
    if (b.hBase == CDocServer::NoFind()) continue;
    if (b.bPending) {
      b.bPending = false;
      if (next) *next = Combined(i, b.wPending);
      return TRUE;
    }
    WORD index = 0;
    if (CDocServer::FindNextDoc(b.hBase, &index)) {
      if (next) *next = Combined(i, index);
      return TRUE;
    }
    b.hBase = CDocServer::NoFind();  // the base released its handle at its end
  }
  delete search;
  return FALSE;
}

BOOL CSrvSrv::FindClose(void* handle) {
  if (handle && handle != NoFind()) delete static_cast<Search*>(handle);
  return TRUE;
}

DWORD CSrvSrv::GetFindItems(void* handle) {
  if (!handle || handle == NoFind()) return 0;
  DWORD total = 0;
  for (const BaseSearch& b : static_cast<Search*>(handle)->aBases)
    if (b.hBase != CDocServer::NoFind()) total += CDocServer::GetFindItems(b.hBase);
  return total;
}
