// Entry points, dispatch, ".ATT" references, failures and hostile requests,
// and requests that arrive while the catalogues are still initialising.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "portico/document.h"
#include "portico/pages.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;
using namespace std::chrono_literals;

const std::string kNoSuchAct = "<HTML><TITLE>Błędna komenda</TITLE><BODY>Brak takiego aktu</BODY></HTML>";

// A small base of plain documents; slot i says "doc i".
std::vector<Item> PlainDocs() {
  return {
      {"D\\ABC007A.HTM", "doc 0", "ABC007"},
      {"ABC007B.HTM", "doc 1", "ABC007"},
      {"XYZ.HTM", "doc 2", "ABC007"},  // carries the key, but its name does not match
      {"ABC007C.HTM", "doc 3", "ABC007;K"},
      {"ABC1234.HTM", "doc 4", "ABC1234"},
  };
}

struct DispatchTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase(PlainDocs());
    site.WriteStatic("Search.htm", "search page");
    ext = StartExtension(site);
  }
};

TEST_F(DispatchTest, CommandWordsIgnoreCase) {
  Response a = Query(*ext, "Topic&1");
  EXPECT_EQ(a.result, 1u);
  EXPECT_EQ(a.header, kPageHeader);
  EXPECT_EQ(a.body, "doc 1");
  EXPECT_EQ(Query(*ext, "topic&1").body, "doc 1");
  EXPECT_EQ(Query(*ext, "TOPIC&1").body, "doc 1");
}

TEST_F(DispatchTest, PorticoPrefixIsRemovedOnlyBeforeAnAmpersand) {
  EXPECT_EQ(Query(*ext, "Portico=Topic&1").body, "doc 1");
  Response r = Query(*ext, "Portico=Topic");
  EXPECT_EQ(r.result, 0u);
  EXPECT_EQ(r.headerCount, 0);
  EXPECT_EQ(r.body, "");
}

TEST_F(DispatchTest, CommandWithoutArgumentsGetsAnEmptyArgumentString) {
  // Topic with an empty designation: not a digit, so a name; "" + ".HTM" is unknown: the search page.
  Response r = Query(*ext, "Topic");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.body, "search page");
}

TEST_F(DispatchTest, UnknownCommandAndEmptyQueryWriteNothing) {
  for (const char* query : {"Bogus&1", "", "Topicx&1", "&1"}) {
    Response r = Query(*ext, query);
    EXPECT_EQ(r.result, 0u) << query;
    EXPECT_EQ(r.headerCount, 0) << query;
    EXPECT_EQ(r.body, "") << query;
  }
}

TEST_F(DispatchTest, CommandTableHoldsTwelveCommandsInOrder) {
  std::size_t n = 0;
  const Command* commands = Commands(&n);
  ASSERT_EQ(n, 12u);
  const char* words[] = {"LinkedDoc", "LinkedOrz", "Topic", "TOC",    "Foot",    "Main",
                         "Search",    "Line",      "PartOr", "Image", "TreeToc", "Synchronize"};
  for (std::size_t i = 0; i < n; ++i) EXPECT_STREQ(commands[i].word, words[i]);
}

TEST_F(DispatchTest, EveryCommandAnswersWithAPage) {
  std::size_t n = 0;
  const Command* commands = Commands(&n);
  for (std::size_t i = 0; i < n; ++i) {
    Response r = Query(*ext, std::string(commands[i].word) + "&1");
    EXPECT_EQ(r.result, 1u) << commands[i].word;
    EXPECT_EQ(r.headerCount, 1) << commands[i].word;
    EXPECT_EQ(r.status, 200u) << commands[i].word;
  }
}

TEST_F(DispatchTest, AttReferenceShowsTheMatchOfTheRank) {
  EXPECT_EQ(Query(*ext, "0", "GET", site.dir + "/ABC7.ATT").body, "doc 0");
  EXPECT_EQ(Query(*ext, "1", "GET", site.dir + "/ABC7.ATT").body, "doc 1");
  EXPECT_EQ(Query(*ext, "2", "GET", site.dir + "/ABC7.ATT").body, "doc 3");
}

TEST_F(DispatchTest, AttReferenceWithoutRankShowsTheLastMatch) {
  EXPECT_EQ(Query(*ext, "", "GET", site.dir + "/ABC7.ATT").body, "doc 3");
  EXPECT_EQ(Query(*ext, "x", "GET", site.dir + "/abc7.att").body, "doc 3");
  EXPECT_EQ(Query(*ext, "9", "GET", site.dir + "/ABC7.ATT").body, "doc 3");
  EXPECT_EQ(Query(*ext, "99999999999999999999", "GET", site.dir + "/ABC7.ATT").body, "doc 3");
}

TEST_F(DispatchTest, AttKeyKeepsLongNumbersAndTakesEitherSeparator) {
  EXPECT_EQ(Query(*ext, "", "GET", site.dir + "/ABC1234.ATT").body, "doc 4");
  EXPECT_EQ(Query(*ext, "", "GET", "C:\\site\\ABC1234.ATT").body, "doc 4");
}

TEST_F(DispatchTest, AttNameEndsAtItsFirstAttMark) {
  EXPECT_EQ(Query(*ext, "1", "GET", site.dir + "/ABC7.ATT.ATT").body, "doc 1");
}

TEST_F(DispatchTest, AttReferenceWithoutMatchSaysSo) {
  Response r = Query(*ext, "", "GET", site.dir + "/QQQ5.ATT");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.header, kPageHeader);
  EXPECT_EQ(r.body, kNoSuchAct);
  EXPECT_EQ(r.status, 200u);
}

TEST_F(DispatchTest, AttPathsWithOddCharactersAreHarmless) {
  for (std::string name : std::vector<std::string>{".ATT", "A.ATT", "A;B;K.ATT", "%00\".ATT", std::string(100000, 'A') + ".ATT",
                           "\xff\xfe.ATT"}) {
    Response r = Query(*ext, "1", "GET", site.dir + "/" + name);
    EXPECT_EQ(r.result, 1u) << name.substr(0, 20);
    EXPECT_EQ(r.body, kNoSuchAct) << name.substr(0, 20);
  }
}

TEST_F(DispatchTest, HostileQueriesGetAPage) {
  auto notFound = [](const Response& r) { return r.body.find("<H1>Brak tej strony</H1>") != std::string::npos; };
  std::string megabyte(1 << 20, '7');
  EXPECT_TRUE(notFound(Query(*ext, "Topic&" + megabyte)));
  EXPECT_EQ(Query(*ext, "Topic&" + std::string(1 << 20, 'N')).body, "search page");
  EXPECT_TRUE(notFound(Query(*ext, "Topic&4294967296")));
  EXPECT_TRUE(notFound(Query(*ext, "Topic&-2147483649")));
  EXPECT_EQ(Query(*ext, "Topic&..\\..\\etc\\passwd").body, "search page");
  EXPECT_EQ(Query(*ext, "Topic&../../etc/passwd%00").body, "search page");
  EXPECT_TRUE(notFound(Query(*ext, "TOC&%")));
  EXPECT_TRUE(notFound(Query(*ext, "LinkedOrz&%41%")));
  EXPECT_EQ(Query(*ext, "Line&99999999999").result, 1u);
  EXPECT_EQ(Query(*ext, std::string(1 << 20, '&')).result, 0u);
}

TEST_F(DispatchTest, FailingPageIsLoggedWithItsQueryAndEndsWithError) {
  MessageCapture messages;
  // The home page is a static file that this site does not have.
  Response r = Query(*ext, "Topic&-2");
  EXPECT_EQ(r.result, static_cast<DWORD>(HSE_STATUS_ERROR));
  EXPECT_EQ(r.headerCount, 1);
  EXPECT_EQ(r.body, "");
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0].rfind("Error: Topic&-2", 0), 0u) << messages.lines[0];
}

TEST_F(DispatchTest, AlertOfANonGetRequestIsCaptionedWithTheQuery) {
  MessageCapture messages;
  Response r = Query(*ext, "Topic&-2\r\nforged", "POST");
  EXPECT_EQ(r.result, static_cast<DWORD>(HSE_STATUS_ERROR));
  ASSERT_EQ(messages.lines.size(), 1u);
  // One line: control characters cannot split it.
  EXPECT_EQ(messages.lines[0].find('\n'), std::string::npos);
  EXPECT_EQ(messages.lines[0].rfind("Topic&-2??forged: Topic&-2??forged", 0), 0u) << messages.lines[0];
}

TEST_F(DispatchTest, EpilogueFillsTheLogField) {
  TestRequest request("Topic&1");
  request.variables["HTTP_USER_AGENT"] = "Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)";
  Response r = Query(*ext, request);
  EXPECT_EQ(r.logData, "Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)");
  EXPECT_EQ(r.status, 200u);
}

TEST(EntryPoints, VersionRecordsAndFilter) {
  HTTP_FILTER_VERSION filter{};
  EXPECT_TRUE(GetFilterVersion(&filter));
  EXPECT_EQ(filter.dwFilterVersion, 0x00020001u);
  EXPECT_STREQ(filter.lpszFilterDesc, "Vamu Filter Extension");
  EXPECT_EQ(filter.dwFlags, 0x00021000u);
  HTTP_FILTER_URL_MAP map{"/x", nullptr, 0};
  EXPECT_EQ(HttpFilterProc(nullptr, SF_NOTIFY_URL_MAP, &map), 0x08000002u);
  EXPECT_EQ(HttpFilterProc(nullptr, SF_NOTIFY_LOG, nullptr), 0x08000002u);
  EXPECT_TRUE(TerminateExtension(HSE_TERM_MUST_UNLOAD));
}

TEST(EntryPoints, ExtensionEntryPointsServeTheOneObject) {
  TestSite site;
  site.AddBase(PlainDocs());
  HSE_VERSION_INFO info{};
  EXPECT_TRUE(GetExtensionVersion(&info));
  EXPECT_EQ(info.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(info.lpszExtensionDesc, "This is a sample Vamu Server Application");
  TestRequest request("Topic&3");
  EXPECT_EQ(HttpExtensionProc(request.Ecb()), 1u);
  EXPECT_EQ(request.body, "doc 3");
  TheExtension().WaitReady();  // the site must outlive the initialisation
}

// Holds an exclusive lock on a base file, as a process that writes it would:
// the catalogue waits until it is released.
class BaseLock {
 public:
  explicit BaseLock(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR)) { ::flock(m_fd, LOCK_EX); }
  ~BaseLock() { Release(); }
  void Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

TEST(Initialisation, EarlyRequestsWaitForTheCataloguesAndGetTheirPages) {
  TestSite site;
  std::string base = site.AddBase(PlainDocs());
  BaseLock lock(base);
  MessageCapture quiet;  // the store reports its waiting
  auto ext = StartExtension(site, false);
  std::vector<std::future<Response>> answers;
  for (int i = 0; i < 8; ++i)
    answers.push_back(std::async(std::launch::async, [&ext, i] { return Query(*ext, "Topic&" + std::to_string(i % 5)); }));
  for (auto& a : answers) EXPECT_EQ(a.wait_for(300ms), std::future_status::timeout);
  EXPECT_FALSE(ext->IsReady());
  lock.Release();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(answers[i].get().body, "doc " + std::to_string(i % 5));
  EXPECT_TRUE(ext->IsReady());
}

TEST(Initialisation, CatalogueThatCannotOpenStillSetsTheReadySignal) {
  TestSite site;
  site.AddMissingBase();
  site.WriteStatic("Search.htm", "search page");
  auto ext = StartExtension(site);
  EXPECT_TRUE(ext->IsReady());
  EXPECT_EQ(Query(*ext, "Topic&0").body.find("Brak tej strony") != std::string::npos, true);
  EXPECT_EQ(Query(*ext, "Topic&Name").body, "search page");
}

TEST(Initialisation, UnstartedObjectIsDestroyedWithoutWaiting) {
  auto start = std::chrono::steady_clock::now();
  { CPorticoExtension never; }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(DispatchTest, ConcurrentRequestsGetTheirOwnPages) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        int doc = (t + i) % 5;
        if (Query(*ext, "Topic&" + std::to_string(doc)).body != "doc " + std::to_string(doc)) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace portico
