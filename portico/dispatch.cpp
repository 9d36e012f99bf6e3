// Dispatch: the command word of the query selects a page from the command
// table; a query without a known command goes to the ".ATT" references.
#include <exception>
#include <string>

#include "platform/message_box.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/reader_page.h"
#include "portico/request.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr Command kCommands[] = {
    {"LinkedDoc", &LinkedDocPage}, {"LinkedOrz", &LinkedOrzPage}, {"Topic", &TopicPage},
    {"TOC", &TocPage},             {"Foot", &FootPage},           {"Main", &MainPage},
    {"Search", &SearchPage},       {"Line", &LinePage},           {"PartOr", &PartOrPage},
    {"Image", &ImagePage},         {"TreeToc", &TreeTocPage},     {"Synchronize", &SynchronizePage},
};

constexpr char kPrefix[] = "Portico=";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
// The caption of an alert whose request was a GET.
constexpr char kDefaultCaption[] = "Error";
// A logged query string is cut here, so that one hostile request cannot
// flood the log.
constexpr std::size_t kLoggedQuery = 2000;
// The URL is asked for with a small buffer first (most are short), then
// with one as large as any request line the hosts accept.
constexpr std::size_t kShortUrl = 1024;
constexpr std::size_t kMaxUrl = 65536;

// A reader address ("/eli/...", "/api/...", ...): the hosts hand those over
// with their path as URL; the extension's own requests name it first.
bool IsReaderUrl(std::string_view url) {
  if (url.size() < 2 || url[0] != '/') return false;
  std::string_view first = url.substr(1, url.find('/', 1) - 1);
  return !EqualsNoCase(first, "portico.dll");
}

// One log line: control characters would split it, so they become "?".
std::string LogText(const char* text) {
  std::string s(text ? text : "");
  if (s.size() > kLoggedQuery) s = s.substr(0, kLoggedQuery) + "...";
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

void Alert(const char* query, const char* third, const char* reason) {
  std::string text = LogText(query);
  if (reason && *reason) text += " (" + LogText(reason) + ")";
  MessageBox(text, third ? LogText(third) : std::string(kDefaultCaption));
}

}  // namespace

const Command* Commands(std::size_t* count) {
  if (count) *count = sizeof kCommands / sizeof kCommands[0];
  return kCommands;
}

DWORD CPorticoExtension::Dispatch(EXTENSION_CONTROL_BLOCK* ecb, const char* query, const char* third) {
  RequestScope generation(*this);  // one generation of the bases for the whole page
  CRequest request(ecb);
  const char* reason = nullptr;
  std::string what;
  try {
    std::optional<std::string> url = request.ServerVariable("URL", kShortUrl);
    if (!url) url = request.ServerVariable("URL", kMaxUrl);
    if (url && IsReaderUrl(*url)) {
      DWORD result = ReaderAddressPage(*this, request, *url, query ? query : "");
      request.Flush();
      return result;
    }
    std::string command = query ? query : "";
    std::string arguments;
    std::size_t amp = command.find('&');
    if (amp != std::string::npos) {
      arguments = command.substr(amp + 1);
      command.resize(amp);
      if (command.compare(0, kPrefixLength, kPrefix) == 0) command.erase(0, kPrefixLength);
    }
    DWORD result = 0;
    bool found = false;
    for (const Command& c : kCommands) {
      if (EqualsNoCase(command, c.word)) {
        result = c.handler(*this, request, arguments);
        found = true;
        break;
      }
    }
    if (!found) result = AttachmentPage(*this, request, query ? query : "");
    request.Flush();
    return result;
  } catch (const std::exception& e) {
    what = e.what();
    reason = what.c_str();
  } catch (...) {
    reason = "unknown exception";
  }
  // What the page wrote so far stays written; the server learns of the failure.
  try {
    request.Flush();
    Alert(query, third, reason);
  } catch (...) {
  }
  return HSE_STATUS_ERROR;
}

}  // namespace portico
