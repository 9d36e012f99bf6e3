#include "portico/document.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "biblion/srv_srv.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "portico/extension.h"
#include "portico/settings.h"
#include "portico/text.h"

namespace portico {

namespace {

// Terminates the memory file's contents with a zero byte and hands the block over.
CPageText TakeText(CMemFile& file) {
  std::size_t length = static_cast<std::size_t>(file.GetLength());
  file.SeekToEnd();
  const char zero = 0;
  file.Write(&zero, 1);
  return CPageText::Adopt(reinterpret_cast<char*>(file.Detach()), length);
}

}  // namespace

Designation ParseDesignation(std::string_view argument) {
  Designation d;
  if (!argument.empty() && (argument[0] == '-' || IsDigit(argument[0]))) {
    std::size_t end = 0;
    std::int32_t value = DecimalValue(argument, &end);
    bool digitsRunToEnd = end == argument.size() || argument[end] == '&';
    if (argument[0] == '-' || digitsRunToEnd) {
      d.bIndex = true;
      d.nIndex = value;
      return d;
    }
    d.bLeadingNumber = true;
    d.nIndex = value;
  }
  d.name = argument;
  return d;
}

bool NameReadsAsIndex(std::string_view name) { return ParseDesignation(name).bIndex; }

std::int32_t ResolveDesignation(const CPorticoExtension& extension, std::string_view argument, const char* suffix) {
  Designation d = ParseDesignation(argument);
  if (d.bIndex) return d.nIndex;
  extension.WaitReady();
  std::string name(d.name);
  name += suffix;
  const DWORD index = extension.Main().GetItemIndex(name.c_str());
  if (index == CSrvSrv::kNoItem && d.bLeadingNumber) return d.nIndex;
  // All bits set (no such item) reads as -1, the search page.
  return static_cast<std::int32_t>(index);
}

void CPageText::Free::operator()(char* p) const { std::free(p); }

CPageText CPageText::Copy(std::string_view text) {
  char* block = static_cast<char*>(std::malloc(text.size() + 1));
  if (!block) throw CMemoryException();
  if (!text.empty()) std::memcpy(block, text.data(), text.size());
  return Adopt(block, text.size());
}

CPageText CPageText::Adopt(char* block, std::size_t length) {
  CPageText t;
  t.m_data.reset(block);
  t.m_length = length;
  block[length] = '\0';
  return t;
}

void CPageText::Truncate(std::size_t n) {
  if (!m_data || n >= m_length) return;
  m_length = n;
  m_data.get()[n] = '\0';
}

void CPageText::CutAtZero() {
  if (m_data) Truncate(std::strlen(m_data.get()));
}

std::string StoredName(const _FILEITEM* item) {
  if (!item || item->wSize <= 2) return {};
  return std::string(item->szName, strnlen(item->szName, item->wSize - 2u));
}

std::string_view LastComponent(std::string_view storedName) {
  std::size_t slash = storedName.rfind('\\');
  return slash == npos ? storedName : storedName.substr(slash + 1);
}

bool ReadItem(const CSrvSrv& catalogue, DWORD index, DWORD limit, CPageText& text, std::string* storedName) {
  CMemFile file(4096);
  FileItemPtr item(catalogue.GetFile(index, file, limit, FALSE));
  if (!item) return false;
  if (storedName) *storedName = StoredName(item.get());
  text = TakeText(file);
  return true;
}

namespace {

// The first result and every further one of a search, until its end.
std::vector<DWORD> CollectFound(CSearchHandle& search, DWORD first) {
  std::vector<DWORD> items;
  if (!search.Found()) return items;
  DWORD index = first;
  do items.push_back(index);
  while (search.Next(&index));
  return items;
}

}  // namespace

std::vector<DWORD> FindKeyItems(const CSrvSrv& catalogue, const std::string& keys) {
  DWORD first = 0;
  CSearchHandle search(catalogue.FindFirstDocFromKey(keys.c_str(), &first));
  return CollectFound(search, first);
}

bool FindWordItems(const CSrvSrv& catalogue, const std::string& query, std::vector<DWORD>& items,
                   std::string* refusal) {
  return catalogue.FindDocuments(query.c_str(), items, refusal) != FALSE;
}

CPageText ReadStaticPage(const std::string& fileName) {
  std::string dir = ReadSetting("Setup", "Dir");
  // Without an installation directory there are no static pages (and the
  // name must not be taken relative to the file-system root).
  if (dir.empty()) throw CFileException(CFileException::fileNotFound, 0, fileName);
  // The static path's rule: a file is read only when its canonical path lies
  // inside the installation directory (a link out of it is refused).
  std::optional<std::string> path = CanonicalPathInside(dir, fileName);
  if (!path) CFileException::ThrowOsError(errno, dir + "/" + fileName);
  CFile file;
  CFileException error;
  if (!file.Open(path->c_str(), CFile::modeRead | CFile::shareDenyNone, &error)) throw error;
  CMemFile memory(4096);
  char buffer[65536];
  while (UINT n = file.Read(buffer, sizeof buffer)) memory.Write(buffer, n);
  return TakeText(memory);
}

void RemoveComments(CPageText& text) {
  std::string_view all = text.View();
  std::size_t start = all.find("<!--");
  if (start == npos) return;
  char* data = text.Data();
  std::size_t out = start;  // everything before the first comment stays where it is
  std::size_t in = start;
  while (start != npos) {
    if (start > in) {
      std::memmove(data + out, data + in, start - in);
      out += start - in;
    }
    std::size_t end = all.find("-->", start + 4);
    if (end == npos) {  // an unterminated comment runs to the end of the text
      in = all.size();
      break;
    }
    in = end + 3;
    start = all.find("<!--", in);
  }
  if (in < all.size()) {
    std::memmove(data + out, data + in, all.size() - in);
    out += all.size() - in;
  }
  text.Truncate(out);
}

}  // namespace portico
