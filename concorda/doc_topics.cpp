// CDocServer: topic lists read lazily from the index files through the
// cache, kept current with the change log, and the suffix index.
#include <algorithm>

#include "concorda/bytes.h"
#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/suffix_index.h"
#include "concorda/system_files.h"

using namespace concorda;

const CMemFile* CDocServer::IndexFile(DWORD number) {
  return m_cache.Get(static_cast<WORD>(number), [this](DWORD n, CMemFile& out) {
    return ReadSystemFile(IndexFileName(n).c_str(), out);
  });
}

void CDocServer::BringCurrent(WordIndex& w) {
  if (w.m_dwLogPos < m_log.Size() && TopicsLoaded(w)) {
    std::vector<DWORD> topics(TopicData(w), TopicData(w) + TopicCount(w));
    if (m_log.Apply(topics, w.m_dwLogPos)) AssignTopics(w, topics.data(), topics.size(), kNoTopicsRef);
  }
  w.m_dwLogPos = static_cast<DWORD>(m_log.Size());
}

bool CDocServer::LoadTopics(WordIndex& w) {
  if (TopicsLoaded(w)) {
    BringCurrent(w);
    return true;
  }
  const DWORD ref = w.m_dwRef;
  w.m_dwLogPos = static_cast<DWORD>(m_log.Size());
  if (ref == kNoTopicsRef) return true;
  const CMemFile* file = IndexFile(ReferenceFile(ref));
  DWORD count = 0;
  const BYTE* data = nullptr;
  if (!file || !ReadIndexSlot(file->GetBuffer(), static_cast<std::size_t>(file->GetLength()), ReferenceSlot(ref),
                              count, data)) {
    m_bTopicsLost = true;
    return false;
  }
  std::vector<DWORD> topics(count);
  for (DWORD i = 0; i < count; ++i) topics[i] = GetDword(data + 4 * i);
  // Lists are searched by item: a damaged list must still be in order.
  auto byItem = [](DWORD a, DWORD b) { return TopicItem(a) < TopicItem(b); };
  if (!std::is_sorted(topics.begin(), topics.end(), byItem)) std::stable_sort(topics.begin(), topics.end(), byItem);
  // Stored lists predate every pending change record.
  m_log.Apply(topics, 0);
  if (!AssignTopics(w, topics.data(), topics.size(), kNoTopicsRef)) return false;
  return true;
}

DWORD CDocServer::StoredTopicCount(const WordIndex& w) {
  if (TopicsLoaded(w)) return TopicCount(w);
  if (w.m_dwRef == kNoTopicsRef) return 0;
  const CMemFile* file = IndexFile(ReferenceFile(w.m_dwRef));
  DWORD count = 0;
  const BYTE* data = nullptr;
  if (!file || !ReadIndexSlot(file->GetBuffer(), static_cast<std::size_t>(file->GetLength()),
                              ReferenceSlot(w.m_dwRef), count, data))
    return 0;
  return count;
}

void CDocServer::CopyTopicItems(std::size_t pos, std::vector<DWORD>& items, bool wholeTopics) {
  CSingleLock lock(m_mutexIndex);
  WordIndex& w = Words()[pos];
  LoadTopics(w);
  const DWORD* t = TopicData(w);
  const DWORD mask = wholeTopics ? 0xFFFFFFFF : kItemMask;
  const DWORD n = TopicCount(w);
  // Room at once for a word's items (a list grown by doubling as they come
  // writes to twice the pages); still doubling from word to word, for the
  // words of a pattern.
  if (items.capacity() < items.size() + n) items.reserve(std::max<std::size_t>(items.size() + n, 2 * items.capacity()));
  for (DWORD i = 0; i < n; ++i) items.push_back(t[i] & mask);
}

bool CDocServer::PositionsMayAnswer(const WordIndex& w) const {
  // Topics in memory are current with every change; the file describes the
  // base as it was opened, so only while nothing has changed.
  return !TopicsLoaded(w) && m_log.Size() == 0;
}

void CDocServer::CopyWordItems(std::size_t pos, std::vector<DWORD>& items) {
  // Opened before the index is locked: opening reads the container.
  if (const CPositionsFile* file = TopicPositions()) {
    CKept<DWORD> slots;
    {
      CSingleLock lock(m_mutexIndex);
      WordIndex& w = Words()[pos];
      // The topics in memory are current; without them, the documents
      // alone, as the postings tell them (a query needs no counts).
      if (PositionsMayAnswer(w)) slots = SlotsFromPositions(*file, w);
    }
    if (slots) {
      items.insert(items.end(), slots.begin(), slots.end());
      return;
    }
  }
  CopyTopicItems(pos, items);
}

std::vector<DWORD> CDocServer::GetWordTopics(DWORD i) {
  std::vector<DWORD> topics;
  if (i >= Words().Size()) return topics;
  if (const CPositionsFile* file = TopicPositions()) {
    CSingleLock lock(m_mutexIndex);
    WordIndex& w = Words()[i];
    if (PositionsMayAnswer(w)) TopicsFromPositions(*file, w);
  }
  CopyTopicItems(i, topics, true);
  return topics;
}

void CDocServer::IndexChanged() {
  m_bSuffixCurrent.store(false);
  m_bLemmasCurrent.store(false);
  m_bFoldsCurrent.store(false);
  m_termCache.Clear();
}

const std::vector<DWORD>& CDocServer::SuffixIndex() {
  // Built once by whichever query needs it first; the others wait for it.
  if (!m_bSuffixCurrent.load(std::memory_order_acquire)) {
    CSingleLock lock(m_mutexIndex);
    if (!m_bSuffixCurrent.load(std::memory_order_relaxed)) {
      m_aSuffix = BuildSuffixIndex(Words());
      m_bSuffixCurrent.store(true, std::memory_order_release);
    }
  }
  return m_aSuffix;
}
