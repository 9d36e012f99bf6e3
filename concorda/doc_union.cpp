// CDocServer: the union of two indexed containers into this one.
#include <cstdlib>
#include <cstring>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "platform/message_box.h"

using namespace concorda;

bool CDocServer::ReopenReadOnly() {
  const std::string path = GetFilePath();
  if (path.empty()) return false;
  Close();  // writes a pending index of a writable source first
  return Init(path.c_str(), nullptr, CFile::modeRead) != FALSE;
}

std::vector<DWORD> CDocServer::UnionPlaces(DWORD& next) {
  // The container's union copies, in slot order, every item that is there
  // and is no system file; this is where each of them lands.
  std::vector<DWORD> places(m_dwSize, kNoItem);
  for (DWORD i = 0; i < m_dwSize; ++i)
    if (FindOffset(i) != 0 && !IsSystemFile(i)) places[i] = next++;
  return places;
}

void CDocServer::CopyMappedTopics(std::size_t pos, const std::vector<DWORD>& places, std::vector<DWORD>& out) {
  CSingleLock lock(m_mutexIndex);
  WordIndex& w = Words()[pos];
  const bool wasStored = !TopicsLoaded(w);
  const DWORD ref = w.m_dwRef;
  LoadTopics(w);
  const DWORD* t = TopicData(w);
  for (DWORD i = 0, n = TopicCount(w); i < n; ++i) {
    DWORD x = TopicItem(t[i]);
    if (x < places.size() && places[x] != kNoItem) out.push_back((t[i] & ~kItemMask) | (places[x] & kItemMask));
  }
  // A source is only read: its list goes back to the index file.
  if (wasStored) FreeTopics(w, ref);
}

BOOL CDocServer::Union(CFileServer* first, CFileServer* second) {
  auto* a = dynamic_cast<CDocServer*>(first);
  auto* b = dynamic_cast<CDocServer*>(second);
  return a && b ? Union(a, b) : FALSE;
}

BOOL CDocServer::Union(CDocServer* first, CDocServer* second) {
  if (!IsWritable() || !first || !second || first == this || second == this) return FALSE;
  if (!first->ReopenReadOnly() || !second->ReopenReadOnly()) return FALSE;
  if (first->GetLayout() != 1 || second->GetLayout() != 1) return FALSE;

  DWORD next = 0;
  const std::vector<DWORD> firstPlaces = first->UnionPlaces(next);
  const std::vector<DWORD> secondPlaces = second->UnionPlaces(next);

  // This container's own index is replaced by the merged one.
  ReleaseIndex();
  Words().SetOwnsWords(true);
  const CWordTable& a = first->Words();
  const CWordTable& b = second->Words();
  std::size_t i = 0, j = 0;
  std::vector<DWORD> topics;
  while (i < a.Size() || j < b.Size()) {
    int order = i == a.Size() ? 1 : j == b.Size() ? -1 : std::strcmp(a[i].m_pWord, b[j].m_pWord);
    const char* word = order <= 0 ? a[i].m_pWord : b[j].m_pWord;
    topics.clear();
    // The first source's documents all come before the second's, so the
    // lists stay in item order.
    if (order <= 0) first->CopyMappedTopics(i++, firstPlaces, topics);
    if (order >= 0) second->CopyMappedTopics(j++, secondPlaces, topics);
    if (topics.empty()) continue;
    WordIndex w;
    w.m_pWord = strdup(word);
    if (!w.m_pWord) throw CMemoryException();
    if (!AssignTopics(w, topics.data(), topics.size(), kNoTopicsRef)) {
      std::free(w.m_pWord);
      continue;
    }
    Words().Append(w);
  }
  auto copyKeys = [this](const CDocServer* source, const std::vector<DWORD>& places) {
    for (const auto& [hash, items] : source->m_keys.All())
      for (DWORD x : items)
        if (x < places.size() && places[x] != kNoItem) m_keys.Add(hash, places[x]);
  };
  copyKeys(first, firstPlaces);
  copyKeys(second, secondPlaces);
  m_bDirty = true;

  BOOL result = CFileServer::Union(first, second);  // copies the documents, then WriteSystemFiles
  // The positions of the merged base, read from its documents.
  if (result) {
    try {
      WritePositionsFor(PositionsSources(true, false), true, nullptr);
    } catch (const CException& e) {
      MessageBox(GetFilePath() + ": word positions not written (" + e.GetErrorMessage() + ")", "DocServer");
    }
  }
  // Both sources end open read-only with their own index loaded again.
  first->ReopenReadOnly();
  second->ReopenReadOnly();
  return result;
}
