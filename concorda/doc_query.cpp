// CDocServer: word queries and key queries, and the find handles.
#include <algorithm>
#include <new>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/query.h"
#include "concorda/term_words.h"
#include "platform/message_box.h"

using namespace concorda;

// Evaluates a query against the word table of one CDocServer.
class CDocQuery : public CQueryEvaluator {
 public:
  explicit CDocQuery(CDocServer& server) : m_s(server) {}

 protected:
  void AddTermDocs(const std::string& term, ItemSet& r) override {
    std::vector<std::size_t> words;
    FindTermWords(m_s.m_words, [this]() -> const std::vector<DWORD>& { return m_s.SuffixIndex(); }, term, words);
    std::vector<DWORD> items;
    for (std::size_t w : words) m_s.CopyTopicItems(w, items);
    AddItems(r, items);
  }

 private:
  CDocServer& m_s;
};

namespace {

CDocServer::FindHandle* MakeHandle(ItemSet& items, WORD* first) {
  if (items.empty()) return CDocServer::NoFind();
  auto* h = new (std::nothrow) CDocServer::FindHandle;
  if (!h) {
    MessageBox("No item", "DocServer");
    return CDocServer::NoFind();
  }
  h->aItems.swap(items);
  h->dwNext = 1;
  if (first) *first = static_cast<WORD>(h->aItems[0]);
  return h;
}

}  // namespace

CDocServer::FindHandle* CDocServer::FindFirstDoc(const char* query, WORD* first, BYTE* /*reserved*/) {
  if (!query) return NoFind();
  PreparedQuery prepared = PrepareQuery(query);
  ItemSet r = CDocQuery(*this).Evaluate(prepared.text);
  if (!r.empty() && !prepared.phrases.empty()) {
    // Phrases are looked for only in the documents the words already selected.
    std::size_t out = 0;
    for (DWORD item : r) {
      CMemFile content(4096);
      bool found = false;
      try {
        if (_FILEITEM* desc = GetFile(item, content, 0, FALSE)) {
          FreeFileItem(desc);
          const BYTE* bytes = content.GetBuffer();
          const auto length = static_cast<std::size_t>(content.GetLength());
          found = std::all_of(prepared.phrases.begin(), prepared.phrases.end(),
                              [&](const std::string& phrase) { return ContainsPhrase(bytes, length, phrase); });
        }
      } catch (const CException&) {
        found = false;  // a document that cannot be read is left out
      }
      if (found) r[out++] = item;
    }
    r.resize(out);
  }
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
