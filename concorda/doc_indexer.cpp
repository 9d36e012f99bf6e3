// CDocServer: storing and indexing documents, the hooks that keep the key
// table and the change log current, and compaction.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/prepared_document.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"
#include "platform/message_box.h"

using namespace concorda;

namespace {

// Documents an index object indexes before its memory flush.
std::atomic<DWORD> g_dwFlushInterval{100000};

}  // namespace

void CDocServer::SetMemoryFlushInterval(DWORD documents) { g_dwFlushInterval.store(documents ? documents : 1); }

DWORD CDocServer::StoreDocument(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method,
                                bool replace) {
  if (!IsWritable() || index == kNoItem) return kNoItem;
  // The document is read and encoded before anything is stored: a document
  // that cannot be indexed is not stored either.
  CPreparedDocument doc;
  if (!doc.Prepare(file, item, keys, method)) return kNoItem;
  return StorePrepared(doc, index, replace);
}

DWORD CDocServer::StorePrepared(CPreparedDocument& doc, DWORD index, bool replace) {
  if (!IsWritable() || index == kNoItem) return kNoItem;
  const DWORD stored = replace ? ReplaceEncoded(doc.Record(), doc.Item(), index)
                               : InsertEncoded(doc.Record(), doc.Item(), index);
  if (stored == kNoItem) return kNoItem;
  IndexKeys(stored, doc.Keys());
  IndexWords(stored, doc.Positions(), !replace && stored + 1 == m_dwSize);
  return stored;
}

DWORD CDocServer::InsertFile(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method) {
  return StoreDocument(file, item, index, keys, method, false);
}

DWORD CDocServer::AddFile(CFile& file, const _FILEITEM* item, const char* keys, DWORD method) {
  return StoreDocument(file, item, m_dwSize, keys, method, false);
}

DWORD CDocServer::ReplaceFile(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method) {
  return StoreDocument(file, item, index, keys, method, true);
}

DWORD CDocServer::InsertFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method) {
  return StoreDocument(src, item, index, nullptr, method, false);
}

DWORD CDocServer::ReplaceFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method) {
  return StoreDocument(src, item, index, nullptr, method, true);
}

void CDocServer::IndexKeys(DWORD index, const char* keys) {
  if (!IsWritable() || index == kNoItem || !keys) return;
  ForEachKey(keys, [&](const std::string& key) { m_keys.Add(MakeHash(key.c_str()), index); });
  m_bDirty = true;
}

char* CDocServer::NextWord(char* text, DWORD length, char** word, DWORD* wordLength) {
  return NextWordIn(text, length, word, wordLength, m_wordBuf);
}

void CDocServer::IndexDocument(DWORD index, CFile& file) {
  if (!IsWritable() || index > kMaxTopicItem) return;
  const ULONGLONG length = file.GetLength();
  if (length >= 0xFFFFFFFFull) throw CFileException(CFileException::diskFull, EFBIG, file.GetFilePath());
  std::string text(static_cast<std::size_t>(length), '\0');
  file.SeekToBegin();
  std::size_t got = 0;
  while (got < length) {
    UINT n = file.Read(text.data() + got, static_cast<UINT>(length - got));
    if (n == 0) break;
    got += n;
  }
  m_docPositions.Read(text.data(), got);
  m_docPositions.Code();
  IndexWords(index, m_docPositions);
}

void CDocServer::IndexWords(DWORD index, const CDocPositions& doc, bool appended) {
  if (!IsWritable() || index > kMaxTopicItem) return;
  if (m_dwIndexedSinceFlush >= g_dwFlushInterval.load()) {
    FlushMemory();
    m_dwIndexedSinceFlush = 0;
  }
  IndexChanged();
  ++m_dwIndexedSinceFlush;
  m_bDirty = true;
  if (!m_positionsSession) m_positionsSession = std::make_unique<CPositionsBuilder>();
  if (appended && CanDeferTopics(index, doc)) {
    m_positionsSession->Add(FindOffset(index), doc, true);
    DeferTopics(index, doc);
    return;
  }
  MergeWords(index, doc);
  m_positionsSession->Add(FindOffset(index), doc, true);
}

void CDocServer::MergeWords(DWORD index, const CDocPositions& doc) {
  CSingleLock lock(m_mutexIndex);
  CWordTable& table = Words();
  // The document's admitted words with their counts as words (markup
  // pieces are no words of the index).
  std::vector<const CDocPositions::Word*> words;
  words.reserve(doc.WordCount());
  for (std::size_t i = 0; i < doc.WordCount(); ++i) {
    const CDocPositions::Word& w = doc.WordAt(i);
    if (w.textCount && IsAdmitted(w.text)) words.push_back(&w);
  }
  // The hash slots, records, words and topic lists of a document's words
  // lie all over memory: ask for each kind for all the words before using
  // any, so that the cache misses overlap instead of coming one after
  // another (a lookup would otherwise wait for each in turn).
  std::vector<WordIndex*> records(words.size());
  std::vector<const WordIndex*> probable(words.size());
  for (const CDocPositions::Word* w : words) table.PrefetchSlot(w->hash);
  for (std::size_t i = 0; i < words.size(); ++i)
    if ((probable[i] = table.Probable(words[i]->hash))) __builtin_prefetch(probable[i]);
  for (const WordIndex* w : probable)
    if (w) {
      __builtin_prefetch(w->m_pWord);
      PrefetchTopicEnd(*w);
    }
  for (std::size_t i = 0; i < words.size(); ++i) records[i] = table.Lookup(HashedWord{words[i]->text, words[i]->hash});
  std::vector<std::pair<std::string_view, DWORD>> fresh;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view word = words[i]->text;
    const DWORD count = words[i]->textCount;
    if (WordIndex* w = records[i]) {
      // Stored topics that cannot be read are lost, but the new document is
      // still found by the word.
      LoadTopics(*w);
      InsertTopic(*w, TopicLowerBound(*w, index), MakeTopic(index, count));
      continue;
    }
    fresh.emplace_back(word, count);
  }
  // New words go into the table in one pass, in word order (std::string_view
  // compares bytes as unsigned, as the table does).
  std::sort(fresh.begin(), fresh.end());
  std::vector<std::pair<std::size_t, WordIndex>> added;
  added.reserve(fresh.size());
  std::size_t pos = 0;
  for (const auto& [word, count] : fresh) {
    WordIndex& w = AddNewWord(added, pos, word);
    w.m_nCount = 1;
    w.m_dwTopic = MakeTopic(index, count);
  }
  table.InsertSorted(added);
}

WordIndex& CDocServer::AddNewWord(std::vector<std::pair<std::size_t, WordIndex>>& added, std::size_t& pos,
                                  std::string_view text) {
  WordIndex w;
  w.m_pWord = strndup(text.data(), text.size());
  if (!w.m_pWord) throw CMemoryException();
  w.m_dwLogPos = static_cast<DWORD>(m_log.Size());
  pos = m_wordTable.LowerBound(w.m_pWord, pos);
  return added.emplace_back(pos, w).second;
}

void CDocServer::RecordChange(BYTE kind, DWORD index) {
  if (m_nHookPause > 0) return;
  // Waiting topics are moved or dropped here, as the log moves the topics of
  // the table (a hook comes in the middle of the container's write, when
  // the index files cannot be read to merge them).
  ShiftDeferredTopics(ChangeRecord{kind, index});
  m_termCache.Clear();
  if (m_keys.Apply(kind, index)) m_bChanged = TRUE;
  m_log.Append(kind, index);
  m_bDirty = true;
}

void CDocServer::OnInsert(DWORD index) { RecordChange(kChangeInserted, index); }
void CDocServer::OnDelete(DWORD index) { RecordChange(kChangeDeleted, index); }
void CDocServer::OnRemove(DWORD index) { RecordChange(kChangeRemoved, index); }

BOOL CDocServer::Compact() {
  if (!IsWritable()) return FALSE;
  // The index is written with the indices the documents will have after the
  // compaction: the empty slots are deleted from it first, each at its index
  // as the items stand after the deletions before it.
  const CKeyTable keysBefore = m_keys;
  const std::size_t logBefore = m_log.Size();
  DWORD dropped = 0;
  for (DWORD i = 0; i < m_dwSize; ++i)
    if (FindOffset(i) == 0) RecordChange(kChangeDeleted, i - dropped++);

  struct Compacting {
    CDocServer& s;
    explicit Compacting(CDocServer& server) : s(server) {
      s.m_bCompacting = true;
      ++s.m_nHookPause;  // the store reports the deletions again: they are in already
    }
    ~Compacting() {
      s.m_bCompacting = false;
      --s.m_nHookPause;
    }
  } compacting(*this);
  m_bDirty = true;
  try {
    WriteSystemFiles();
  } catch (const CException&) {
    // Nothing compacted: the container and the index stay as they were.
    m_keys = keysBefore;
    m_log.Truncate(logBefore);
    throw;
  }
  if (m_bDirty) {  // a read-only base writes nothing
    m_keys = keysBefore;
    m_log.Truncate(logBefore);
    return FALSE;
  }
  m_bChanged = FALSE;
  // The positions of the slots that stay, in their new order; kept across
  // the compaction, which closes and opens the container again.
  std::vector<PositionsSource> positions;
  try {
    positions = PositionsSources(false, true);
  } catch (const CException&) {
    positions.clear();
  }
  auto session = std::move(m_positionsSession);
  auto old = std::move(m_positionsFile);
  const BOOL compacted = CFileServer::Compact();
  if (compacted && session) {
    m_positionsSession = std::move(session);
    m_positionsFile = std::move(old);
    if (positions.size() == m_dwSize) WritePositionsFor(positions, false, nullptr);
    else WritePositionsFor(PositionsSources(true, false), true, nullptr);
    OpenPositionsForWriting();
  }
  return compacted;
}
