// A document made ready to be stored and indexed: read whole, cut into words
// (with their positions) and compressed into its item record. Preparing
// touches no base, so many threads can prepare documents while one stores
// them in order (CDocServer::StorePrepared, document_batch.h); the base's
// bytes are the same whichever thread prepared what.
//
//   CPreparedDocument doc;
//   if (!doc.Prepare(file, item, "K1;K2", 2)) report(doc.Error());
//   else index = base.StorePrepared(doc, base.GetSize(), false);
//
// Not thread-safe itself; one object may be reused for document after document.
#pragma once

#include <string>
#include <vector>

#include "concorda/doc_positions.h"
#include "kasten/file_item.h"
#include "platform/file.h"

class CPreparedDocument {
 public:
  CPreparedDocument() = default;
  CPreparedDocument(const CPreparedDocument&) = delete;
  CPreparedDocument& operator=(const CPreparedDocument&) = delete;

  // Reads src from its start to its end and prepares it as `item`, stored
  // with `method`, carrying the ';'-separated `keys` (null: none). False when
  // it cannot be stored (Error() says why: too large, no memory, an unknown
  // method, a damaged descriptor); a file that cannot be read throws its
  // CFileException.
  bool Prepare(CFile& src, const _FILEITEM* item, const char* keys, DWORD method);
  const std::string& Error() const { return m_strError; }

  const _FILEITEM* Item() const { return reinterpret_cast<const _FILEITEM*>(m_item.data()); }
  const char* Keys() const { return m_bKeys ? m_strKeys.c_str() : nullptr; }
  const concorda::CDocPositions& Positions() const { return m_positions; }
  CMemFile& Record() { return m_record; }

 private:
  std::vector<BYTE> m_item;  // a copy of the descriptor
  std::string m_strKeys;
  bool m_bKeys = false;
  CMemFile m_text{65536};    // the document
  CMemFile m_record{65536};  // its item record
  concorda::CDocPositions m_positions;
  std::string m_strError;
};
