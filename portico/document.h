// Reading documents for a page: the item designation of page arguments, the
// text buffer a page owns (always followed by a zero byte), reading catalogue
// items and static files into it, and comment removal. Every page of the
// extension reads its documents through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kasten/file_item.h"
#include "platform/windows_types.h"

class CSrvSrv;

namespace portico {

class CPorticoExtension;

// Stands in for a document that cannot be read (93 bytes).
constexpr std::string_view kNotFoundPage =
    "<HTML><HEAD><TITLE>Brak tej strony</TITLE></HEAD><BODY><H1>Brak tej strony</H1></BODY></HTML>";

// Reserved page numbers: negative designations that name no catalogue item.
enum ReservedPage : std::int32_t {
  kSearchPage = -1,     // static "Search.htm"
  kHomePage = -2,       // static "Home.htm"
  kNoDocument = -3,     // footer frame state; not a document
  kNotesPage = -4,      // static "Notes.htm"
  kBookmarksPage = -5,  // static "Bookmark.htm"
};

// An item designation: a decimal index (combined item index or reserved
// page number) or an item name.
//
// An argument is an index when it starts with "-", or with a digit and its
// digits run to the end of the argument or to the next "&". An argument that
// starts with digits followed by anything else ("97D0123") is looked up as a
// name first, so items whose names start with a digit are reachable by name;
// when no item has that name, its leading number is the index ("517x" is
// 517). Index values outside the 32-bit range saturate (and so name no item).
struct Designation {
  bool bIndex = false;
  std::int32_t nIndex = 0;  // the index; for a digit-led name, its leading number
  bool bLeadingNumber = false;  // a name that starts with digits
  std::string_view name;    // the whole argument when it is a name
};
Designation ParseDesignation(std::string_view argument);

// The index a designation stands for. A name waits for the ready signal and
// is looked up in the main catalogue as name + suffix; an unknown name gives
// its leading number when it starts with digits, else -1 (the search page).
std::int32_t ResolveDesignation(const CPorticoExtension& extension, std::string_view argument,
                                const char* suffix = ".HTM");

// Whether a name would be read as an index when used as a designation.
bool NameReadsAsIndex(std::string_view name);

// A text a page owns for one request: malloc'd bytes, always followed by a
// zero byte that is not counted in Length().
class CPageText {
 public:
  CPageText() = default;
  // A copy of text.
  static CPageText Copy(std::string_view text);
  // Takes a malloc'd block holding at least length + 1 bytes; writes the zero.
  static CPageText Adopt(char* block, std::size_t length);

  char* Data() { return m_data.get(); }
  const char* Data() const { return m_data.get(); }
  std::size_t Length() const { return m_length; }
  bool Empty() const { return m_length == 0; }
  std::string_view View() const { return {m_data.get(), m_length}; }
  // Shortens the text to n <= Length() bytes (the zero moves along).
  void Truncate(std::size_t n);
  // Cuts the text at its first zero byte.
  void CutAtZero();

 private:
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char, Free> m_data;
  std::size_t m_length = 0;
};

// The stored name of a descriptor, read within its length.
std::string StoredName(const _FILEITEM* item);
// A stored name without its directory part (behind the last "\").
std::string_view LastComponent(std::string_view storedName);

// Reads item `index` of the catalogue (limit 0: whole; else as far as its
// first `limit` stored bytes reach) into `text`. Returns false when the
// catalogue has no such item (text untouched). *storedName (when given)
// receives the item's stored name. Damaged items throw the store's exceptions.
bool ReadItem(const CSrvSrv& catalogue, DWORD index, DWORD limit, CPageText& text, std::string* storedName = nullptr);

// Every item the catalogue delivers for the ';'-separated keys, in the
// catalogue's order. The search is always released.
std::vector<DWORD> FindKeyItems(const CSrvSrv& catalogue, const std::string& keys);
// Every item the catalogue finds for a word query, base by base, in
// `items`, and true; false (items empty) when the query passes the limits
// of its budget (concorda::QueryLimits), *refusal (when given) naming which.
bool FindWordItems(const CSrvSrv& catalogue, const std::string& query, std::vector<DWORD>& items,
                   std::string* refusal = nullptr);

// Reads a static page of the installation directory (Setup\Dir) whole.
// Throws CFileException when it cannot be opened or leads out of the
// directory (a symbolic link to a file elsewhere).
CPageText ReadStaticPage(const std::string& fileName);

// Deletes every comment ("<!--" through the next "-->"; a comment without
// its end runs to the end of the text) in one pass.
void RemoveComments(CPageText& text);

}  // namespace portico
