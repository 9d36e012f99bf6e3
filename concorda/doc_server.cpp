// CDocServer: opening and closing, the system files and their loading.
#include "concorda/doc_server.h"

#include <cstring>
#include <exception>
#include <memory>

#include "concorda/doc_server_internal.h"
#include "concorda/lemma_lookahead.h"
#include "concorda/system_files.h"
#include "platform/message_box.h"

using namespace concorda;

CDocServer::CDocServer() = default;

CDocServer::CDocServer(const char* path, const GUID* guid, UINT openFlags) { Init(path, guid, openFlags); }

CDocServer::~CDocServer() {
  // A destructor cannot report a failed write; the container is still
  // closed by the base class.
  try {
    Close();
  } catch (const CException& e) {
    MessageBox(e.GetErrorMessage(), "DocServer");
  }
}

BOOL CDocServer::Init(const char* path, const GUID* guid, UINT openFlags) {
  if (IsOpen()) return FALSE;
  BOOL opened = CFileServer::Init(path, guid, openFlags);
  if (!opened) return FALSE;
  m_bDirty = false;
  m_bTopicsLost = false;
  LoadKeyTable();
  LoadWordTable();
  if (IsWritable()) OpenPositionsForWriting();
  return opened;
}

void CDocServer::Close() {
  if (!IsOpen()) return;
  std::exception_ptr failure;
  if (IsWritable() && !m_bCompacting && (m_dwLayout == 0 || m_bDirty)) {
    // The lemma table of the positions file asks the dictionary for every
    // word: the session's words are looked up on another core while the
    // index files are written.
    std::unique_ptr<CLemmaLookahead> lemmas;
    if (m_positionsSession && m_positionsSession->WordCount() > 0)
      lemmas = std::make_unique<CLemmaLookahead>(m_positionsSession->WordTexts());
    try {
      EndOfPerformanceThread();
      WriteSystemFiles();
    } catch (...) {
      failure = std::current_exception();
    }
    // The positions file is a companion: when it cannot be written, the
    // base is still whole (phrases then read the documents), so its failure
    // is logged and not thrown. The disk takes the base meanwhile.
    if (!failure) {
      StartWriteBack();
      try {
        WritePositionsFor(PositionsSources(false, false), false, nullptr, lemmas.get());
      } catch (const CException& e) {
        MessageBox(GetFilePath() + ": word positions not written (" + e.GetErrorMessage() + ")", "DocServer");
      }
    }
  }
  ReleaseIndex();
  CFileServer::Close();
  if (failure) std::rethrow_exception(failure);
}

void CDocServer::ReleaseIndex() {
  {
    CSingleLock lock(m_mutexIndex);
    DropDeferredTopics();
    m_wordTable.Clear();
    m_cache.Clear();
    IndexChanged();
    m_aSuffix.clear();
    m_aSuffix.shrink_to_fit();
  }
  m_wordBlock.clear();
  m_wordBlock.shrink_to_fit();
  m_wordBuf.Free();
  m_keys.Clear();
  m_log.Clear();
  m_bChanged = FALSE;
  m_bDirty = false;
  m_dwIndexedSinceFlush = 0;
  ReleasePositions();
}

BOOL CDocServer::IsSystemFile(DWORD index) {
  FileItemPtr item(GetItem(index));
  return item && NameFits(item.get()) && IsSystemFileName(item->szName) ? TRUE : FALSE;
}

DWORD CDocServer::FindSystemItem(const char* name) {
  DWORD index = GetItemIndex(name);
  if (index == kNoItem) return kNoItem;
  FileItemPtr item(GetItem(index));
  return item && NameFits(item.get()) && std::strcmp(item->szName, name) == 0 ? index : kNoItem;
}

bool CDocServer::ReadSystemFile(const char* name, CMemFile& out) {
  DWORD index = FindSystemItem(name);
  if (index == kNoItem) return false;
  try {
    return FileItemPtr(GetFile(index, out, 0, FALSE)) != nullptr;
  } catch (const CException&) {
    // A damaged system file counts as missing: its part of the index answers nothing.
    return false;
  }
}

void CDocServer::StoreSystemFile(const char* name, CFile& content) {
  FileItemPtr item(MakeFileItem(name, kSystemItemSize));
  if (!item) throw CMemoryException();  // the names of system items always fit
  content.SeekToBegin();
  // The store's own writing: the index's files are no documents to index.
  CMemFile record(4096);
  if (!EncodeRecord(content, item.get(), kSystemMethod, record))
    throw CXException(CXException::damaged, GetFilePath(), name, "the index file could not be encoded");
  DWORD index = FindSystemItem(name);
  if ((index == kNoItem ? InsertEncoded(record, item.get(), m_dwSize) : ReplaceEncoded(record, item.get(), index)) ==
      kNoItem)
    throw CXException(CXException::damaged, GetFilePath(), name, "the index file could not be stored");
}

void CDocServer::LoadKeyTable() {
  CMemFile file(4096);
  if (!ReadSystemFile(kKeyTableName, file)) return;
  m_keys.Parse(file.GetBuffer(), static_cast<std::size_t>(file.GetLength()));
}

void CDocServer::LoadWordTable() {
  {
    CSingleLock lock(m_mutexIndex);
    DropDeferredTopics();
    m_wordTable.Clear();
    m_cache.Clear();
    IndexChanged();
  }
  m_wordBlock.clear();
  m_wordTable.SetOwnsWords(IsWritable());

  CMemFile file(4096);
  if (!ReadSystemFile(kWordTableName, file)) return;
  ParsedWordTable parsed = ParseWordTableFile(file.GetBuffer(), static_cast<std::size_t>(file.GetLength()));
  file.Close();
  m_wordTable.Reserve(parsed.words.size());
  if (IsWritable()) {
    for (const auto& [offset, ref] : parsed.words) {
      WordIndex w;
      w.m_pWord = strdup(reinterpret_cast<const char*>(parsed.area.data() + offset));
      if (!w.m_pWord) throw CMemoryException();
      w.m_dwRef = ref;
      m_wordTable.Append(w);
    }
    return;
  }
  // Read-only: the words stay in one block and are not copied.
  m_wordBlock.swap(parsed.area);
  for (const auto& [offset, ref] : parsed.words) {
    WordIndex w;
    w.m_pWord = reinterpret_cast<char*>(m_wordBlock.data() + offset);
    w.m_dwRef = ref;
    m_wordTable.Append(w);
  }
}
