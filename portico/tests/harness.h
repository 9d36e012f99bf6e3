// Test kit for the pages of the extension: a temporary site (installation
// directory with static pages, document bases built with CDocServer, a
// registry file naming them), an extension object started over it, and an
// in-process control block that records what a page sends.
//
//   TestSite site;
//   site.AddBase({{"DOC1.HTM", "<HTML>...</HTML>", "K1"}});
//   auto ext = StartExtension(site);
//   Response r = Query(*ext, "Topic&0");
//   EXPECT_EQ(r.body, "...");
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/isapi.h"
#include "platform/registry.h"
#include "portico/extension.h"

namespace portico::test {

// One document of a fixture base: stored name, contents, ';'-separated keys.
struct Item {
  std::string name;
  std::string text;
  std::string keys;
};

class TestSite {
 public:
  TestSite();
  ~TestSite();
  TestSite(const TestSite&) = delete;

  std::string root;  // temporary directory holding everything
  std::string dir;   // installation directory (Setup\Dir)
  std::string registryPath;

  // Builds a base (items in slot order; slot i holds items[i]) and lists it
  // in the catalogue's registry key (order of calls = base numbers).
  // Returns the container path.
  std::string AddBase(const std::vector<Item>& items, const std::string& catalogue = "biblion");
  // Builds a base at `path` (items in slot order; a file there is replaced)
  // without listing it; a new GUID unless one is given.
  static void WriteBase(const std::string& path, const std::vector<Item>& items, const GUID* guid = nullptr);
  // The registry as the site wrote it, for tests that change the list of bases.
  CRegistry& Registry() { return m_registry; }
  // Lists a path that holds no base (it does not take a base number).
  void AddMissingBase(const std::string& catalogue = "biblion");
  // A value below "Vamu Server" (section "" = the key itself).
  void SetSetting(const std::string& section, const std::string& name, const std::string& value);
  void RemoveSetting(const std::string& section);
  void WriteStatic(const std::string& name, const std::string& text);
  // Writes the registry file and points VAMU_REGISTRY at it. AddBase and
  // SetSetting call it; call it again after changing settings by hand.
  void WriteRegistry();

 private:
  CRegistry m_registry;
  int m_bases = 0;
};

// One request as a server would present it. Records the header, every
// write and the log field; writes can be made to fail.
class TestRequest {
 public:
  explicit TestRequest(const std::string& query, const std::string& method = "GET",
                       const std::string& pathTranslated = "");
  EXTENSION_CONTROL_BLOCK* Ecb() { return &m_ecb; }

  // Server variables; HTTP_USER_AGENT is set to "test-agent" unless changed.
  std::map<std::string, std::string> variables;
  // Writes after this many succeed fail (and every later one).
  std::size_t failAfterWrites = static_cast<std::size_t>(-1);
  // Called before every write (a test may hold the page here).
  std::function<void()> beforeWrite;

  std::string header;         // header text of the response header request
  std::string statusText;     // its status ("404 Not Found"); empty for the default
  int headerCount = 0;
  std::string body;           // bytes of successful writes
  std::vector<std::size_t> writeSizes;
  std::size_t failedWrites = 0;

 private:
  static TestRequest* Self(HCONN conn);
  static BOOL GetServerVariable(HCONN, LPSTR, LPVOID, LPDWORD);
  static BOOL WriteClient(HCONN, LPVOID, LPDWORD, DWORD);
  static BOOL ReadClient(HCONN, LPVOID, LPDWORD);
  static BOOL ServerSupport(HCONN, DWORD, LPVOID, LPDWORD, LPDWORD);

  std::string m_method, m_query, m_path;
  EXTENSION_CONTROL_BLOCK m_ecb{};
};

struct Response {
  DWORD result = 0;
  std::string header;
  std::string statusText;
  int headerCount = 0;
  std::string body;
  std::string logData;
  DWORD status = 0;
  std::size_t writes = 0;
};

// Runs a query through the extension object's request operation.
Response Query(CPorticoExtension& extension, const std::string& query, const std::string& method = "GET",
             const std::string& pathTranslated = "");
Response Query(CPorticoExtension& extension, TestRequest& request);

// An extension object over the site (cache files in the site's root),
// started, and ready unless `wait` is false.
std::unique_ptr<CPorticoExtension> StartExtension(const TestSite& site, bool wait = true);

// n letters that deflate cannot shrink much (about 5 bits a letter), for
// documents whose stored bytes must reach past a read limit.
std::string Noise(std::size_t n, unsigned seed = 1);

// The header text every page sends.
constexpr const char* kPageHeader = "Content-type: text/html\r\n\r\n";

// Collects the lines of MessageBox while alive.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  std::vector<std::string> lines;  // "caption: text"
 private:
  std::function<void(const std::string&, const std::string&)> m_previous;
};

}  // namespace portico::test
