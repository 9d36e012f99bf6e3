#include "concorda/prepared_document.h"

#include <new>

#include "kasten/file_server.h"

bool CPreparedDocument::Prepare(CFile& src, const _FILEITEM* item, const char* keys, DWORD method) {
  m_strError.clear();
  if (!item || item->wSize < 3) {
    m_strError = "the item descriptor is damaged";
    return false;
  }
  const std::string name(item->szName, strnlen(item->szName, item->wSize - 2u));
  const ULONGLONG length = src.GetLength();
  // The index reads a document whole; the container's lengths are 32 bits.
  if (length >= 0xFFFFFFFFull) {
    m_strError = name + ": " + std::to_string(length) + " bytes are too large to store and index";
    return false;
  }
  try {
    m_item.assign(reinterpret_cast<const BYTE*>(item), reinterpret_cast<const BYTE*>(item) + item->wSize);
    m_bKeys = keys != nullptr;
    m_strKeys = keys ? keys : "";
    m_text.SetLength(0);
    m_text.Reserve(static_cast<std::size_t>(length));
    src.SeekToBegin();
    BYTE* into = m_text.PrepareWrite(static_cast<std::size_t>(length));
    std::size_t got = 0;
    while (got < length) {
      UINT n = src.Read(into + got, static_cast<UINT>(length - got));
      if (n == 0) break;
      got += n;
    }
    m_text.CommitWrite(got);
    m_positions.Read(got ? reinterpret_cast<const char*>(m_text.GetBuffer()) : "", got);
    m_positions.Code();
    m_record.SetLength(0);
    m_record.SeekToBegin();
    m_text.SeekToBegin();
    if (!CFileServer::EncodeRecord(m_text, Item(), method, m_record)) {
      m_strError = name + ": cannot be stored with method " + std::to_string(method);
      return false;
    }
  } catch (const std::bad_alloc&) {
    m_strError = name + ": not enough memory for its " + std::to_string(length) + " bytes";
    return false;
  } catch (const CMemoryException&) {
    m_strError = name + ": not enough memory for its " + std::to_string(length) + " bytes";
    return false;
  }
  return true;
}
