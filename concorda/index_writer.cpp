// CDocServer: writing the index into the container. The topic lists are
// written into index files grouped by list length (size classes), so that
// short lists share files; the new index files are built in a temporary
// container first when the old ones are still read while they are built.
#include <optional>
#include <string>
#include <unordered_set>

#include "concorda/bytes.h"
#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/system_files.h"
#include "platform/paths.h"

using namespace concorda;

namespace {

// A batch (one index file) ends once its capped topic counts reach this total.
constexpr ULONGLONG kBatchTopics = 0x1FFFF;
// ... or once it holds this many words: a reference names the slot in 16 bits.
constexpr std::size_t kBatchWords = 0x10000;
constexpr DWORD kCountCap = 32768;
constexpr int kSizeClasses = 15;

int SizeClass(DWORD count) {
  DWORD c = count > kCountCap ? kCountCap : count;
  int a = 0;
  while (c >>= 1) ++a;
  return a < kSizeClasses - 1 ? a : kSizeClasses - 1;
}

}  // namespace

// Where the builder puts the index files it makes: a scratch container, or
// the base itself.
class CDocServer::CIndexFileSink {
 public:
  CIndexFileSink(CDocServer& base, CFileServer* scratch) : m_base(base), m_scratch(scratch) {}
  void Store(DWORD number, const std::vector<BYTE>& bytes) {
    CMemFile file(4096);
    file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
    file.SeekToBegin();
    if (!m_scratch) {
      m_base.StoreSystemFile(IndexFileName(number).c_str(), file);
      return;
    }
    FileItemPtr item(MakeFileItem(IndexFileName(number).c_str(), kSystemItemSize));
    if (!item) throw CMemoryException();  // the names of system items always fit
    // A scratch copy: stored raw, compressed once when moved into the container.
    if (m_scratch->AddFile(file, item.get(), 0) == CFileServer::kNoItem)
      throw CXException(CXException::damaged, m_scratch->GetFilePath(), IndexFileName(number),
                        "the index file could not be stored in the scratch container");
  }

 private:
  CDocServer& m_base;
  CFileServer* m_scratch;
};

DWORD CDocServer::BuildIndexFiles(CIndexFileSink* sink, bool makeReferences) {
  const std::size_t n = Words().Size();
  std::vector<bool> written(n), dead(n);
  // Counts before loading: the class of a word is that of its list as stored.
  std::vector<DWORD> counts(n);
  {
    CSingleLock lock(m_mutexIndex);
    for (std::size_t i = 0; i < n; ++i) {
      counts[i] = StoredTopicCount(Words()[i]);
      // A word whose topics cannot be read has none: it is dropped rather
      // than left with a reference that the new files would give a new meaning.
      if (counts[i] == 0) dead[i] = true;
    }
  }
  DWORD file = 0;
  std::vector<std::size_t> batch;
  std::vector<std::pair<const DWORD*, DWORD>> lists;
  std::vector<BYTE> bytes;
  for (int a = 0; a < kSizeClasses; ++a) {
    std::size_t i = 0;
    while (i < n) {
      ULONGLONG total = 0;
      batch.clear();
      for (; i < n && total < kBatchTopics && batch.size() < kBatchWords; ++i) {
        if (written[i] || dead[i] || SizeClass(counts[i]) != a) continue;
        total += counts[i] > kCountCap ? kCountCap : counts[i];
        CSingleLock lock(m_mutexIndex);
        WordIndex& w = Words()[i];
        LoadTopics(w);
        if (TopicCount(w) == 0) {
          dead[i] = true;
          continue;
        }
        batch.push_back(i);
        written[i] = true;
      }
      if (batch.empty()) continue;
      if (sink) {
        lists.clear();
        for (std::size_t k : batch) lists.emplace_back(TopicData(Words()[k]), TopicCount(Words()[k]));
        BuildIndexFile(lists, bytes);
        sink->Store(file, bytes);
      }
      if (makeReferences) {
        CSingleLock lock(m_mutexIndex);
        for (std::size_t slot = 0; slot < batch.size(); ++slot)
          FreeTopics(Words()[batch[slot]], MakeReference(file, static_cast<DWORD>(slot)));
      }
      ++file;
    }
  }
  {
    CSingleLock lock(m_mutexIndex);
    Words().RemoveMarked(dead);
    IndexChanged();
    // Every list left in memory has seen the whole log.
    m_log.Clear();
    for (std::size_t i = 0; i < Words().Size(); ++i) Words()[i].m_dwLogPos = 0;
  }
  return file;
}

// A temporary container for the new index files, deleted with this object.
class CDocServer::CScratch {
 public:
  CScratch(const GUID& guid) {
    std::optional<std::string> path;
    for (int attempt = 0; attempt < 100 && !path; ++attempt) path = CreateTempFile(TempDirectory(), "vamu");
    if (!path) return;
    m_path = *path;
    DeleteFileAt(m_path);  // the container creates its own file
    if (m_fs.Init(m_path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite)) m_fs.EndOfPerformanceThread();
  }
  ~CScratch() {
    m_fs.Close();
    if (!m_path.empty()) DeleteFileAt(m_path);
  }
  CScratch(const CScratch&) = delete;
  CScratch& operator=(const CScratch&) = delete;
  bool IsOpen() const { return m_fs.IsOpen(); }
  CFileServer& Container() { return m_fs; }

 private:
  CFileServer m_fs;
  std::string m_path;
};

bool CDocServer::AllTopicsInMemory() {
  CSingleLock lock(m_mutexIndex);
  for (std::size_t i = 0; i < Words().Size(); ++i)
    if (!TopicsLoaded(Words()[i]) && Words()[i].m_dwRef != kNoTopicsRef) return false;
  return true;
}

bool CDocServer::PrepareScratch(std::optional<CScratch>& scratch) {
  if (AllTopicsInMemory()) return true;
  scratch.emplace(m_Guid);
  return scratch->IsOpen();
}

void CDocServer::MoveIndexFiles(CScratch* scratch, bool removeStale) {
  // The cached index files are the old ones, about to be replaced.
  auto dropCachedIndexFiles = [this] {
    CSingleLock lock(m_mutexIndex);
    m_cache.Clear();
  };
  DWORD count = 0;
  if (!scratch) {
    // No stored index file is read while the new ones replace them: each
    // is stored as soon as it is built (a base built in one session writes
    // its index so, without copying it through a scratch file).
    dropCachedIndexFiles();
    CHookPause pause(*this);
    CIndexFileSink sink(*this, nullptr);
    count = BuildIndexFiles(&sink, true);
  } else {
    CIndexFileSink sink(*this, &scratch->Container());
    count = BuildIndexFiles(&sink, true);
    dropCachedIndexFiles();
    CHookPause pause(*this);
    for (DWORD n = 0; n < count; ++n) {
      CMemFile file(4096);
      if (!FileItemPtr(scratch->Container().GetFile(IndexFileName(n).c_str(), file, 0, FALSE))) continue;
      StoreSystemFile(IndexFileName(n).c_str(), file);
    }
  }
  // Index files beyond the new count are no longer referred to.
  if (removeStale)
    for (DWORD n = count;; ++n) {
      DWORD index = FindSystemItem(IndexFileName(n).c_str());
      if (index == kNoItem) break;
      RemoveFile(index);
    }
}

void CDocServer::WriteKeyTable() {
  std::vector<BYTE> bytes = m_keys.Serialize();
  CMemFile file(4096);
  file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  CHookPause pause(*this);
  StoreSystemFile(kKeyTableName, file);
}

void CDocServer::WriteWordTable() {
  std::vector<BYTE> bytes = BuildWordTableFile(Words());
  CMemFile file(65536);
  file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  CHookPause pause(*this);
  StoreSystemFile(kWordTableName, file);
}

void CDocServer::WriteSystemFiles() {
  if (!IsWritable()) return;
  // Nothing is written unless the new index files have a place to be built.
  std::optional<CScratch> scratch;
  if (!PrepareScratch(scratch))
    throw CXException(CXException::damaged, GetFilePath(), "",
                      "the index cannot be written: no scratch file could be made in " + TempDirectory());
  WriteKeyTable();
  MoveIndexFiles(scratch ? &*scratch : nullptr, !m_bCompacting);
  WriteWordTable();
  m_bDirty = false;
}

DWORD CDocServer::GetSystemFilesCount() {
  // The same batching as the writer, without writing: the same count.
  return BuildIndexFiles(nullptr, false) + 2;
}

void CDocServer::FlushMemory() {
  // The frequent words come back into memory after the write.
  std::unordered_set<const char*> frequent;
  for (std::size_t i = 0; i < Words().Size(); ++i)
    if (Words()[i].m_nCount > 32) frequent.insert(Words()[i].m_pWord);
  std::optional<CScratch> scratch;
  // Without a scratch file the words stay in memory; the index is written
  // (or its failure reported) when the base is closed.
  if (!PrepareScratch(scratch)) return;
  MoveIndexFiles(scratch ? &*scratch : nullptr, true);
  CSingleLock lock(m_mutexIndex);
  for (std::size_t i = 0; i < Words().Size(); ++i)
    if (frequent.count(Words()[i].m_pWord)) LoadTopics(Words()[i]);
  m_cache.ResetUseCounts();
}
