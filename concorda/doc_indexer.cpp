// CDocServer: storing and indexing documents, the hooks that keep the key
// table and the change log current, and compaction.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/word_map.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"
#include "platform/message_box.h"

using namespace concorda;

namespace {

// Documents indexed per process before the memory flush (guarded by IndexingMutex).
DWORD g_dwFlushInterval = 100000;

}  // namespace

void CDocServer::SetMemoryFlushInterval(DWORD documents) {
  CSingleLock lock(IndexingMutex());
  g_dwFlushInterval = documents ? documents : 1;
}

template <class Store>
DWORD CDocServer::StoreDocument(Store store, CFile& file, const char* keys) {
  // One document at a time per process: the word map is shared.
  CSingleLock lock(IndexingMutex());
  DWORD index;
  try {
    index = store();
  } catch (const CException& e) {
    // The base is half written; the tools cannot go on with it.
    MessageBox(e.GetErrorMessage(), "DocServer");
    std::exit(1);
  }
  IndexKeys(index, keys);
  IndexDocument(index, file);
  return index;
}

DWORD CDocServer::InsertFile(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method) {
  return StoreDocument([&] { return CFileServer::InsertFile(file, item, index, method); }, file, keys);
}

DWORD CDocServer::AddFile(CFile& file, const _FILEITEM* item, const char* keys, DWORD method) {
  return StoreDocument([&] { return CFileServer::AddFile(file, item, method); }, file, keys);
}

DWORD CDocServer::ReplaceFile(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method) {
  return StoreDocument([&] { return CFileServer::ReplaceFile(file, item, index, method); }, file, keys);
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
  CSingleLock lock(IndexingMutex());
  CWordMap& map = ProcessWordMap();
  if (map.m_dwDocuments >= g_dwFlushInterval) {
    FlushMemory();
    map.m_dwDocuments = 0;
  }
  IndexChanged();
  ++map.m_dwDocuments;
  m_bDirty = true;

  const ULONGLONG length = file.GetLength();
  if (length >= 0xFFFFFFFFull || !m_textBuf.Reserve(static_cast<std::size_t>(length) + 1)) {
    MessageBox("Not memory", "");
    return;
  }
  char* text = m_textBuf.Data();
  file.SeekToBegin();
  DWORD got = 0;
  while (got < length) {
    UINT n = file.Read(text + got, static_cast<UINT>(length - got));
    if (n == 0) break;
    got += n;
  }
  text[got] = '\0';
  cp1250::UpperCase(text, got);
  CollectWords(text, got);
  MergeWords(index);
}

void CDocServer::CollectWords(char* text, DWORD length) {
  CWordMap& map = ProcessWordMap();
  map.Clear();
  if (!m_wordBuf.Exists() && !m_wordBuf.Reserve(kScratchInitialSize)) MessageBox("No memory in WordMap", "");
  char* p = text;
  DWORD left = length;
  char* word = nullptr;
  DWORD n = 0;
  while (char* next = NextWord(p, left, &word, &n)) {
    left -= static_cast<DWORD>(next - p);
    p = next;
    // Admitted or not is decided once per distinct word; a word with markup
    // inside lives in the scratch buffer only until the next call.
    if (word && n) map.Add(word, n, word >= text && word < text + length);
  }
}

void CDocServer::MergeWords(DWORD index) {
  CWordMap& map = ProcessWordMap();
  CSingleLock lock(m_mutexIndex);
  const auto words = map.Admitted();
  // The records and topic lists of a document's words lie all over memory:
  // find them all first and ask for their memory early, so that the cache
  // misses overlap instead of coming one after another.
  std::vector<WordIndex*> records(words.size());
  for (std::size_t i = 0; i < words.size(); ++i)
    if ((records[i] = m_words.Lookup(words[i].first))) __builtin_prefetch(records[i]);
  for (WordIndex* w : records)
    if (w) PrefetchTopicEnd(*w);
  std::vector<std::pair<std::string_view, DWORD>> fresh;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const auto& [word, count] = words[i];
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
    WordIndex w;
    w.m_pWord = strndup(word.data(), word.size());
    if (!w.m_pWord) {
      MessageBox("No buff", "DocServer");
      continue;
    }
    w.m_nCount = 1;
    w.m_dwTopic = MakeTopic(index, count);
    w.m_dwLogPos = static_cast<DWORD>(m_log.Size());
    pos = m_words.LowerBound(w.m_pWord, pos);
    added.emplace_back(pos, w);
  }
  m_words.InsertSorted(added);
  map.Clear();
}

void CDocServer::RecordChange(BYTE kind, DWORD index) {
  if (m_nHookPause > 0) return;
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
  WriteSystemFiles();
  if (m_bDirty) {  // nothing could be written: leave the container and the index as they were
    m_keys = keysBefore;
    m_log.Truncate(logBefore);
    return FALSE;
  }
  m_bChanged = FALSE;
  return CFileServer::Compact();
}
