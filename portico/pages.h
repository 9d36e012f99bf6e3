// The page handlers behind the command words, and the command table that
// dispatch searches. Every handler has one form: it gets the extension
// object, the request and the argument string (the query string behind its
// first "&"), writes a complete response and returns HSE_STATUS_SUCCESS.
// A handler may throw; dispatch turns that into a logged failure.
#pragma once

#include <cstddef>
#include <string>

#include "platform/isapi.h"

namespace portico {

class CPorticoExtension;
class CRequest;

using PageHandler = DWORD (*)(CPorticoExtension& extension, CRequest& request, const std::string& arguments);

struct Command {
  const char* word;
  PageHandler handler;
};

// The command table in the order dispatch searches it (12 entries).
const Command* Commands(std::size_t* count);

// Document pages.
DWORD TopicPage(CPorticoExtension&, CRequest&, const std::string&);      // topic_page.cpp
DWORD LinkedDocPage(CPorticoExtension&, CRequest&, const std::string&);  // linked_pages.cpp
DWORD LinkedOrzPage(CPorticoExtension&, CRequest&, const std::string&);  // linked_pages.cpp
DWORD TocPage(CPorticoExtension&, CRequest&, const std::string&);        // toc_page.cpp
DWORD LinePage(CPorticoExtension&, CRequest&, const std::string&);       // line_page.cpp
// Navigation and search pages.
DWORD FootPage(CPorticoExtension&, CRequest&, const std::string&);         // frameset_pages.cpp
DWORD MainPage(CPorticoExtension&, CRequest&, const std::string&);         // frameset_pages.cpp
DWORD SearchPage(CPorticoExtension&, CRequest&, const std::string&);       // search_page.cpp
DWORD PartOrPage(CPorticoExtension&, CRequest&, const std::string&);       // part_or_page.cpp
DWORD ImagePage(CPorticoExtension&, CRequest&, const std::string&);        // image_page.cpp
DWORD TreeTocPage(CPorticoExtension&, CRequest&, const std::string&);      // tree_toc_page.cpp
DWORD SynchronizePage(CPorticoExtension&, CRequest&, const std::string&);  // synchronize_page.cpp

// One button of the button bar (line_page.cpp): kind 0 search, 1 home page,
// 2 notes, 3 bookmarks, 4 related acts, 5 rulings; value is appended to the
// address of kinds 2 to 5.
std::string Button(int kind, const std::string& value);

// A request that names no command: portico.dll/NAME.ATT?rank (attachment.cpp).
// The argument is the whole query string. Returns 0 without any output when
// the path names no ".ATT" reference.
DWORD AttachmentPage(CPorticoExtension&, CRequest&, const std::string& query);

}  // namespace portico
