// The cache of index files read into memory, one per CDocServer: a word's
// topics are read from the in-memory copy of its index file, so a file is
// inflated once and not for every word. At most 1001 files are held; before
// a file is added to more than 1000, the least used one (the first such) is
// dropped. Not locked itself: CDocServer holds its index mutex around every call.
#pragma once

#include <functional>
#include <vector>

#include "platform/file.h"
#include "platform/windows_types.h"

namespace concorda {

class CIndexFileCache {
 public:
  static constexpr std::size_t kMaxFiles = 1001;
  using Reader = std::function<bool(DWORD number, CMemFile& out)>;

  CIndexFileCache() = default;
  CIndexFileCache(const CIndexFileCache&) = delete;
  CIndexFileCache& operator=(const CIndexFileCache&) = delete;
  ~CIndexFileCache() { Clear(); }

  // The bytes of index file `number`, read with `read` on a miss; null when
  // it cannot be read. Valid until the next call.
  const CMemFile* Get(WORD number, const Reader& read);
  // Releases every file.
  void Clear();
  // Sets every use count to 1 (after a memory flush).
  void ResetUseCounts();
  std::size_t Size() const { return m_a.size(); }

 private:
  struct Record {
    WORD wNumber;
    DWORD dwUse;
    CMemFile* pFile;
  };
  std::vector<Record> m_a;
};

}  // namespace concorda
