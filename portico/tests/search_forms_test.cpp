// The Search page's options for the words of a pattern: Formy=1 (all forms),
// BezZnakow=1 (without diacritics). What each finds (worked out by hand from
// the documents below), that they ride in the next-page link and the result
// cache key, and that other or hostile values leave them off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portico/search_query.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

std::string Act(int position, const std::string& words) {
  return "<HTML><HEAD><TITLE>Dz.U.97.12." + std::to_string(position) + " - Akt " + std::to_string(position) +
         "</TITLE></HEAD>\r\n<BODY><P>" + words + "</P></BODY></HTML>";
}

std::string Name(int position) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "D97%04dD97%04d.HTM", position, position);
  return buffer;
}

// Positions 1-24: "umowy najmu"; 25: "umowa"; 26: "Sąd"; 27: "sad"; 28: "Łódź";
// 29: "kara" among markup and quotes.
std::vector<Item> Documents() {
  std::vector<Item> items;
  for (int p = 1; p <= 24; ++p) items.push_back({Name(p), Act(p, "strony umowy najmu"), ""});
  items.push_back({Name(25), Act(25, "umowa"), ""});
  items.push_back({Name(26), Act(26, "Sąd okręgowy"), ""});
  items.push_back({Name(27), Act(27, "sad owocowy"), ""});
  items.push_back({Name(28), Act(28, "miasto Łódź"), ""});
  items.push_back({Name(29), Act(29, "Kara <script>alert('x')</script><img src=x onerror=alert(1)> \"cudzysłów\" a&b "
                                     "grzywny lub kary"), ""});
  return items;
}

// The positions of the acts a page lists, in order.
std::vector<int> Listed(const std::string& body) {
  std::vector<int> out;
  for (std::size_t at = body.find("Dz.U.97.12."); at != std::string::npos; at = body.find("Dz.U.97.12.", at + 1))
    out.push_back(std::stoi(body.substr(at + 11)));
  return out;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

struct SearchForms : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase(Documents());
    ext = StartExtension(site);
  }
  std::vector<int> Found(const std::string& arguments) {
    return Listed(Query(*ext, "Search&" + arguments + "&Length=100").body);
  }
};

TEST_F(SearchForms, FormsAndFoldingFindWhatTheWordsStandFor) {
  EXPECT_EQ(Found("Pattern=umowa"), (std::vector<int>{25}));
  EXPECT_EQ(Found("Pattern=umowa&Formy=1"), Range(1, 25));
  EXPECT_EQ(Found("Pattern=umowa+najem&Formy=1"), Range(1, 25));
  EXPECT_EQ(Found("Pattern=umowa+I+najem&Formy=1"), Range(1, 24));
  EXPECT_EQ(Found("Pattern=sad"), (std::vector<int>{27}));
  EXPECT_EQ(Found("Pattern=sad&BezZnakow=1"), (std::vector<int>{26, 27}));
  EXPECT_EQ(Found("Pattern=lodz&BezZnakow=1"), (std::vector<int>{28}));
  EXPECT_EQ(Found("Pattern=s%B9d&Formy=1"), (std::vector<int>{26}));  // "sąd", percent-encoded windows-1250
  EXPECT_EQ(Found("Pattern=sad&Formy=1&BezZnakow=1"), (std::vector<int>{26, 27}));
  // Phrases are left as written; the options mark plain words only.
  EXPECT_EQ(Found("Pattern=%22umowa+najmu%22&Formy=1"), std::vector<int>{});
}

TEST_F(SearchForms, OtherValuesLeaveTheOptionsOff) {
  const std::vector<int> plain = Found("Pattern=umowa");
  for (const std::string& value : std::vector<std::string>{"0", "", "yes", "11", "1%00", "%31", "<b>1</b>", "\"1\"", std::string(1 << 20, '1')})
    EXPECT_EQ(Found("Pattern=umowa&Formy=" + value), plain) << value.substr(0, 20);
  EXPECT_EQ(Found("Pattern=sad&BezZnakow=" + std::string(1 << 20, 'x')), (std::vector<int>{27}));
  // The fields themselves are found by name, as every field of the page.
  EXPECT_EQ(Found("Formy=1&Pattern=umowa"), Range(1, 25));
}

TEST_F(SearchForms, TheNextPageKeepsTheOptions) {
  const Response first = Query(*ext, "Search&Pattern=umowa&Formy=1&BezZnakow=1");
  EXPECT_EQ(Listed(first.body), Range(1, 20));
  const std::string link = "val=\"portico.dll?Search&Pattern=umowa&Formy=1&BezZnakow=1&Start=21&Length=\";";
  EXPECT_NE(first.body.find(link), std::string::npos) << first.body;
  EXPECT_EQ(Listed(Query(*ext, "Search&Pattern=umowa&Formy=1&BezZnakow=1&Start=21&Length=20").body), Range(21, 25));
}

TEST_F(SearchForms, TheOptionsAreInTheCacheKey) {
  // Each query after the other: a key without the options would hand the
  // second the first one's list.
  EXPECT_EQ(Found("Pattern=umowa"), (std::vector<int>{25}));
  EXPECT_EQ(Found("Pattern=umowa&Formy=1"), Range(1, 25));
  EXPECT_EQ(Found("Pattern=umowa"), (std::vector<int>{25}));
  EXPECT_NE(CacheQuery("Pattern=umowa&Formy=1"), CacheQuery("Pattern=umowa"));
  EXPECT_NE(CacheQuery("Pattern=umowa&BezZnakow=1"), CacheQuery("Pattern=umowa"));
}

TEST_F(SearchForms, HostilePatternsWithTheOptionsAreEscapedInTheLink) {
  const Response r = Query(*ext, "Search&Pattern=umowa+%3Cscript%3E&Formy=1&BezZnakow=1&x=</script><b>'");
  EXPECT_EQ(Listed(r.body), Range(1, 20));
  EXPECT_EQ(r.body.find("</script><b>"), std::string::npos);
  EXPECT_NE(r.body.find("x=\\x3C/script\\x3E\\x3Cb\\x3E\\'"), std::string::npos) << r.body;
  // A megabyte of words, marked, is refused or answered, never a crash.
  std::string huge = "Search&Formy=1&BezZnakow=1&Pattern=";
  for (int i = 0; i < 100000; ++i) huge += "umowa+";
  const Response big = Query(*ext, huge);
  EXPECT_EQ(big.result, DWORD{HSE_STATUS_SUCCESS});
  EXPECT_NE(big.body.find("</HTML>"), std::string::npos);
}

// The fragment under each entry (empty when an entry has none).
std::vector<std::string> Fragments(const std::string& body) {
  std::vector<std::string> out;
  for (std::size_t at = body.find("<LI>"); at != std::string::npos; at = body.find("<LI>", at + 1)) {
    const std::size_t end = body.find("<P>\r\n", at);
    const std::string entry = body.substr(at, end - at);
    const std::string before = "<BR><FONT SIZE=\"-1\">", after = "</FONT>";
    const std::size_t open = entry.find(before);
    if (open != std::string::npos) {
      EXPECT_EQ(entry.substr(entry.size() - after.size()), after);
    }
    out.push_back(open == std::string::npos ? ""
                                            : entry.substr(open + before.size(),
                                                           entry.size() - open - before.size() - after.size()));
  }
  return out;
}

TEST_F(SearchForms, FragmentsShowTheWordsInBoldUnderEachTitle) {
  const Response r = Query(*ext, "Search&Pattern=umowa+I+najem&Formy=1&Fragmenty=1");
  const std::vector<std::string> fragments = Fragments(r.body);
  ASSERT_EQ(fragments.size(), 20u);
  for (const std::string& f : fragments) EXPECT_EQ(f, "strony <B>umowy</B> <B>najmu</B>");
  EXPECT_NE(r.body.find("&Fragmenty=1&Start=21&Length="), std::string::npos);  // the next page keeps them
  // Folded words are bold as the base writes them.
  EXPECT_EQ(Fragments(Query(*ext, "Search&Pattern=lodz&BezZnakow=1&Fragmenty=1").body),
            (std::vector<std::string>{"miasto <B>Łódź</B>"}));
  // Words behind NIE are not shown in bold.
  EXPECT_EQ(Fragments(Query(*ext, "Search&Pattern=sad+NIE+okr%EAgowy&Fragmenty=1").body),
            (std::vector<std::string>{"<B>sad</B> owocowy"}));
}

TEST_F(SearchForms, FragmentsLetNoMarkupOfTheDocumentThrough) {
  const Response r = Query(*ext, "Search&Pattern=kara&Formy=1&Fragmenty=1");
  EXPECT_EQ(Fragments(r.body), (std::vector<std::string>{
                                   "<B>Kara</B> alert('x') &quot;cudzysłów&quot; a&amp;b grzywny lub <B>kary</B>"}));
  EXPECT_EQ(r.body.find("<script>"), std::string::npos);
  EXPECT_EQ(r.body.find("<img"), std::string::npos);
}

TEST_F(SearchForms, FragmentsOfAHugePatternShowItsFirstTerms) {
  // Hundreds of different terms (as many as a query may name): only the
  // first 32 are looked for in the documents (each word of a document is
  // matched against every term).
  std::string pattern = "najmu";
  for (int i = 0; i < 250; ++i) pattern += "+q" + std::to_string(i) + "*";
  pattern += "+umowy";
  const Response r = Query(*ext, "Search&Fragmenty=1&Length=1&Pattern=" + pattern);
  EXPECT_EQ(Listed(r.body), (std::vector<int>{1}));
  EXPECT_EQ(Fragments(r.body), (std::vector<std::string>{"strony umowy <B>najmu</B>"}));
}

TEST_F(SearchForms, WithoutFragmentsThePageKeepsItsBytes) {
  const std::string plain = Query(*ext, "Search&Pattern=sad&BezZnakow=1").body;
  EXPECT_EQ(Listed(plain), (std::vector<int>{26, 27}));
  EXPECT_EQ(plain.find("<BR><FONT"), std::string::npos);
  for (const std::string& value : std::vector<std::string>{"0", "", "<B>", std::string(1 << 20, '1')})
    EXPECT_EQ(Query(*ext, "Search&Pattern=sad&BezZnakow=1&Fragmenty=" + value).body, plain) << value.substr(0, 8);
  // Fragments of a pattern-less search (a range of the journal): nothing to show.
  EXPECT_EQ(Fragments(Query(*ext, "Search&Fragmenty=1&Length=3").body), (std::vector<std::string>{"", "", ""}));
}

}  // namespace
}  // namespace portico
