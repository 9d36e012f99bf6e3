// The Search page: fields and their limits, journal bounds, range and word
// queries, paging with its header line and next-page trailer, and the
// result cache behind it (hits, collisions, eviction, concurrent requests).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "portico/range_cache.h"
#include "portico/search_cache.h"
#include "portico/search_query.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

const std::string kHead =
    "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\"></HEAD><BODY "
    "BGCOLOR=\"#FFFFFF\">";
const std::string kNothing = kHead + "Nie znaleziono żadnych dokumentów</BODY></HTML>";

// Two query texts with one cache key.
const std::string kCollidingA = "Pattern=xkzubvuygehq";
const std::string kCollidingB = "Pattern=zwixzjufkljt";

std::string Act(const std::string& citation, const std::string& title, const std::string& words) {
  // Markup does not end a word: the line end keeps the title's last word apart.
  return "<HTML><HEAD><TITLE>" + citation + title + "</TITLE></HEAD>\r\n<BODY><P>" + words + "</P></BODY></HTML>";
}

std::string Name(const char* format, int a) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, a, a);
  return buffer;
}

// Slots 0-56: Dz.U. 1997 number 12, positions 1-57, all with "podatek", the
// odd positions also with "kodeks". Then one act of M.P., acts numbered 464
// and 465 (the default last number is packed as 464), acts of 1995 and 1996,
// and an act without citation (number 0).
std::vector<Item> Documents() {
  std::vector<Item> items;
  for (int p = 1; p <= 57; ++p)
    items.push_back({Name("D97%04dD97%04d.HTM", p), Act("Dz.U.97.12." + std::to_string(p), " - Akt " + std::to_string(p),
                                                        p % 2 ? "podatek kodeks" : "podatek"),
                     ""});
  items.push_back({"M980010M980010.HTM", Act("M.P.98.4.10", " - Uchwała", "podatek"), ""});        // 57
  items.push_back({"D980001D980001.HTM", Act("Dz.U.98.464.1", " - Graniczny", "graniczny"), ""});  // 58
  items.push_back({"D980002D980002.HTM", Act("Dz.U.98.465.2", " - Za granicą", "graniczny"), ""}); // 59
  items.push_back({"D950001D950001.HTM", Act("Dz.U.95.1.1", " - Rok 95", "xkzubvuygehq"), ""});    // 60
  items.push_back({"D960001D960001.HTM", Act("Dz.U.96.2.1", " - Rok 96", "zwixzjufkljt"), ""});    // 61
  items.push_back({"D990001D990001.HTM", Act("", "Bez numeru", "graniczny"), ""});                 // 62
  return items;
}

struct SearchTest : ::testing::Test {
  TestSite site;
  std::vector<Item> docs = Documents();
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase(docs);
    ext = StartExtension(site);
  }
  std::string Entry(int slot) const {
    const std::string& name = docs[slot].name;
    const std::string& text = docs[slot].text;
    std::size_t open = text.find("<TITLE>") + 7;
    return "<LI><A HREF=portico.dll?Topic&" + name.substr(0, name.size() - 4) + " TARGET=VAMUTEXT>" +
           text.substr(open, text.find("</TITLE>") - open) + "</A><P>\r\n";
  }
  std::string List(const std::string& header, const std::vector<int>& slots, const std::string& trailer) const {
    std::string body = kHead + header + "<P><UL>\r\n";
    for (int s : slots) body += Entry(s);
    return body + "</UL>\r\n" + trailer + "</BODY></HTML>";
  }
  static std::string Trailer(const std::string& url, int next) {
    return " <script language=\"JavaScript\">\r\n<!--\r\nfunction GetNext()\r\n{\r\nval=\"" + url +
           "\";\r\nval+=document.form1.len.value;\r\nwindow.location.href=val;\r\n}\r\n//--></script>"
           "<P><FORM NAME=\"form1\" onSubmit=\"GetNext()\"><INPUT TYPE=BUTTON VALUE=\"  Wyświetl następne \" "
           "onClick=\"GetNext()\">  <INPUT NAME=\"len\" TYPE=TEXT SIZE=\"3\" VALUE=\"" +
           std::to_string(next) + "\"> pozycji</FORM>";
  }
  static std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
  }
};

TEST(SearchFields, DefaultsAndPackedBounds) {
  SearchFields f = ParseSearchFields("");
  EXPECT_EQ(f.strPattern, "");
  EXPECT_EQ(f.nStart, 1);
  EXPECT_EQ(f.nLength, 20);
  _RNP lower, upper;
  SearchBounds(f, 0, &lower, &upper);
  EXPECT_EQ(lower.dw, (0u << 21) | (1u << 12) | 1u);
  EXPECT_EQ(upper.dw, (99u << 21) | (464u << 12) | (1u << 11) | 2000u);  // number 2000 packs as 464
  SearchBounds(ParseSearchFields("DON=600&OD=1997&DO=1998&ODP=3"), 1, &lower, &upper);
  EXPECT_EQ(lower.dw, (1u << 28) | (97u << 21) | (1u << 12) | 3u);
  EXPECT_EQ(upper.dw, (1u << 28) | (98u << 21) | (88u << 12) | (1u << 11) | 2000u);
}

TEST(SearchFields, YearsAndLimits) {
  EXPECT_EQ(ParseSearchFields("OD=150").nFirstYear, 0);
  EXPECT_EQ(ParseSearchFields("DO=150").nLastYear, 99);
  EXPECT_EQ(ParseSearchFields("OD=1997&DO=1997").nFirstYear, 97);
  EXPECT_EQ(ParseSearchFields("OD=1997&DO=1997").nLastYear, 97);
  EXPECT_EQ(ParseSearchFields("OD=-5&DO=-5").nFirstYear, 0);
  EXPECT_EQ(ParseSearchFields("DO=-5").nLastYear, 0);
  EXPECT_EQ(ParseSearchFields("OD=5000").nFirstYear, 3100);  // no upper limit; packing keeps 7 bits
  EXPECT_EQ(ParseSearchFields("ODP=0&DOP=5000&ODN=-3&DON=2001").nFirstPosition, 1);
  EXPECT_EQ(ParseSearchFields("ODP=0&DOP=5000&ODN=-3&DON=2001").nLastPosition, 2000);
  EXPECT_EQ(ParseSearchFields("ODP=0&DOP=5000&ODN=-3&DON=2001").nFirstNumber, 1);
  EXPECT_EQ(ParseSearchFields("ODP=0&DOP=5000&ODN=-3&DON=2001").nLastNumber, 2000);
  EXPECT_EQ(ParseSearchFields("Start=0").nStart, 1);
  EXPECT_EQ(ParseSearchFields("Start=-5").nStart, 1);
  EXPECT_EQ(ParseSearchFields("Length=0").nLength, 1);
  EXPECT_EQ(ParseSearchFields("Length=500").nLength, 100);
  EXPECT_EQ(ParseSearchFields("Start=99999999999999999999&OD=99999999999").nStart, 2147483647);
  EXPECT_EQ(ParseSearchFields("Zmiany=2x&TypyDoc=7").nMode, 2);
  EXPECT_EQ(ParseSearchFields("TypyDoc=abc").nJournals, 0);
}

TEST(SearchFields, PatternIsUrlDecoded) {
  EXPECT_EQ(ParseSearchFields("Pattern=kodeks+karny%21&OD=1").strPattern, "kodeks karny!");
  EXPECT_EQ(ParseSearchFields("Pattern=%25%32%35").strPattern, "%25");  // decoded bytes are not decoded again
  EXPECT_EQ(ParseSearchFields("Pattern=a%").strPattern, "a%");
  EXPECT_EQ(ParseSearchFields("Pattern=a%4").strPattern, "a%4");
  EXPECT_EQ(ParseSearchFields("Pattern=%zz%C5").strPattern, "%zz\xC5");
  EXPECT_EQ(ParseSearchFields("Pattern=%00abc").strPattern, "");  // a zero ends the pattern
}

TEST(SearchFields, CacheQueryDropsStartAndLength) {
  EXPECT_EQ(CacheQuery("Pattern=x&Start=21&Length=20&OD=5"), "Pattern=x&OD=5");
  EXPECT_EQ(CacheQuery("Pattern=x&Length=20"), "Pattern=x");
  EXPECT_EQ(CacheQuery("Start=21&Pattern=x"), "Start=21&Pattern=x");  // only a field behind "&" goes
  EXPECT_EQ(CacheQuery(""), "");
}

TEST_F(SearchTest, DefaultFieldsListBothJournalsWithinTheDefaultRange) {
  Response r = Query(*ext, "Search");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.header, kPageHeader);
  // 57 + the M.P. act + number 464 + 1995 + 1996; number 465 and number 0 lie outside.
  EXPECT_EQ(r.body, List("Dokumenty znalezione (61 pozycji) Wyświetlono od pozycji 1 do pozycji 20", Range(0, 19),
                         Trailer("portico.dll?Search&&Start=21&Length=", 20)));
  EXPECT_EQ(r.status, 200u);
}

TEST_F(SearchTest, SecondPageOfFiftySevenWithTrailer) {
  Response r = Query(*ext, "Search&Pattern=podatek&TypyDoc=1&Start=21&Length=20");
  EXPECT_EQ(r.body, List("Dokumenty znalezione (57 pozycji) Wyświetlono od pozycji 21 do pozycji 40", Range(20, 39),
                         Trailer("portico.dll?Search&Pattern=podatek&TypyDoc=1&Start=41&Length=", 17)));
}

TEST_F(SearchTest, LastPageHasNoTrailer) {
  Response r = Query(*ext, "Search&Pattern=podatek&TypyDoc=1&Start=41&Length=20");
  EXPECT_EQ(r.body, List("Dokumenty znalezione (57 pozycji) Wyświetlono od pozycji 41 do pozycji 57", Range(40, 56), ""));
}

TEST_F(SearchTest, WordsIntersectWithTheRange) {
  Response r = Query(*ext, "Search&Pattern=kodeks&ODP=10&DOP=20");
  EXPECT_EQ(r.body, List("Dokumenty znalezione (5 pozycji) Wyświetlono od pozycji 1 do pozycji 5", {10, 12, 14, 16, 18}, ""));
  // M.P. only; and the word of both journals.
  EXPECT_EQ(Query(*ext, "Search&TypyDoc=2").body,
            List("Dokumenty znalezione (1 pozycji) Wyświetlono od pozycji 1 do pozycji 1", {57}, ""));
  EXPECT_EQ(Query(*ext, "Search&Pattern=podatek&OD=1998").body,
            List("Dokumenty znalezione (1 pozycji) Wyświetlono od pozycji 1 do pozycji 1", {57}, ""));
}

TEST_F(SearchTest, PackedLastNumberLeavesOutNumbersAbove464) {
  EXPECT_EQ(Query(*ext, "Search&Pattern=graniczny").body,
            List("Dokumenty znalezione (1 pozycji) Wyświetlono od pozycji 1 do pozycji 1", {58}, ""));
  EXPECT_EQ(Query(*ext, "Search&Pattern=graniczny&DON=465").body,
            List("Dokumenty znalezione (2 pozycji) Wyświetlono od pozycji 1 do pozycji 2", {58, 59}, ""));
}

TEST_F(SearchTest, EmptyResultsSayNothingWasFound) {
  EXPECT_EQ(Query(*ext, "Search&TypyDoc=3&Pattern=podatek").body, kNothing);
  EXPECT_EQ(Query(*ext, "Search&Pattern=nieistniejące").body, kNothing);
  EXPECT_EQ(Query(*ext, "Search&Pattern=podatek&Start=59").body, kNothing);  // 58 results
  EXPECT_EQ(Query(*ext, "Search&Pattern=podatek&Start=99999999999999").body, kNothing);
  EXPECT_EQ(Query(*ext, "Search&Zmiany=7").body, kNothing);  // a mode the catalogue does not know
}

TEST_F(SearchTest, PatternsOverTheQueryBudgetGetAPageThatSaysSoAndAreNotCached) {
  const std::string tooComplex = kHead +
                                 "Zapytanie jest zbyt złożone, by je wykonać. Uprość je (mniej wyrazów, wzorców z * i "
                                 "? lub fraz) i spróbuj ponownie</BODY></HTML>";
  // 4096 tokens are the limit of a query: answered; one more is refused.
  std::string pattern = "nieistniejące";
  for (int i = 1; i < 4096; ++i) pattern += "+nieistniejące";
  EXPECT_EQ(Query(*ext, "Search&Pattern=" + pattern).body, kNothing);
  EXPECT_EQ(Query(*ext, "Search&Pattern=" + pattern + "+podatek").body, tooComplex);
  EXPECT_EQ(Query(*ext, "Search&Pattern=" + pattern + "+podatek").body, tooComplex);
  EXPECT_FALSE(ext->SearchCache().Contains("Pattern=" + pattern + "+podatek"));
  EXPECT_TRUE(ext->SearchCache().Contains("Pattern=" + pattern));
  // Thousands of one wildcard pattern are one term: answered.
  std::string stars = "podat*";
  for (int i = 1; i < 3700; ++i) stars += "+podat*";
  EXPECT_NE(Query(*ext, "Search&Pattern=" + stars).body.find("Dokumenty znalezione (58 pozycji)"), std::string::npos);
}

TEST_F(SearchTest, StartAndLengthAreLimited) {
  const std::string first = Query(*ext, "Search&Pattern=podatek&TypyDoc=1&Length=1").body;
  EXPECT_EQ(Query(*ext, "Search&Pattern=podatek&TypyDoc=1&Start=-5&Length=0").body, first);
  EXPECT_NE(first.find("Wyświetlono od pozycji 1 do pozycji 1<P>"), std::string::npos);
  EXPECT_NE(first.find("&Start=2&Length=\""), std::string::npos);
  const std::string hundred = Query(*ext, "Search&Length=500").body;
  EXPECT_NE(hundred.find("(61 pozycji) Wyświetlono od pozycji 1 do pozycji 61"), std::string::npos);
}

TEST_F(SearchTest, RepeatedQueryWithOtherPagingComesFromTheCache) {
  CSearchCache& cache = ext->SearchCache();
  Query(*ext, "Search&Pattern=podatek&TypyDoc=1");
  EXPECT_EQ(cache.Misses(), 1u);
  Query(*ext, "Search&Pattern=podatek&TypyDoc=1&Start=21&Length=20");
  Query(*ext, "Search&Pattern=podatek&TypyDoc=1&Length=5");
  EXPECT_EQ(cache.Misses(), 1u);
  EXPECT_EQ(cache.Hits(), 2u);
  EXPECT_EQ(cache.Size(), 1u);
}

TEST_F(SearchTest, CachedListIsShownWithoutAskingTheCatalogue) {
  // A list the catalogue would never give for this query: the page shows it.
  ext->SearchCache().Store("Pattern=podatek", std::make_shared<const std::vector<DWORD>>(std::vector<DWORD>{60, 61}));
  EXPECT_EQ(Query(*ext, "Search&Pattern=podatek&Start=1").body,
            List("Dokumenty znalezione (2 pozycji) Wyświetlono od pozycji 1 do pozycji 2", {60, 61}, ""));
}

TEST_F(SearchTest, QueriesWithOneCacheKeyKeepTheirOwnResults) {
  ASSERT_EQ(CSearchCache::Key(kCollidingA), CSearchCache::Key(kCollidingB));
  EXPECT_EQ(Query(*ext, "Search&" + kCollidingA).body,
            List("Dokumenty znalezione (1 pozycji) Wyświetlono od pozycji 1 do pozycji 1", {60}, ""));
  EXPECT_EQ(Query(*ext, "Search&" + kCollidingB).body,
            List("Dokumenty znalezione (1 pozycji) Wyświetlono od pozycji 1 do pozycji 1", {61}, ""));
  EXPECT_EQ(ext->SearchCache().Size(), 2u);
  EXPECT_EQ(ext->SearchCache().Hits(), 0u);
}

TEST_F(SearchTest, TrailerQuotesTheQueryAndNothingEndsTheScript) {
  Response r = Query(*ext, "Search&TypyDoc=1&Pattern=podatek&x=a\"b'c\\d</script><img src=x>\r\nalert(1)&Start=2");
  const std::string val = "val=\"portico.dll?Search&TypyDoc=1&Pattern=podatek&x=a\\\"b\\'c\\\\d\\x3C/script\\x3E\\x3Cimg "
                          "src=x\\x3E\\x0D\\x0Aalert(1)&Start=22&Length=\";\r\n";
  EXPECT_NE(r.body.find(val), std::string::npos) << r.body;
  // One script element, closed once; no markup of the request in the page.
  EXPECT_EQ(r.body.find("</script>"), r.body.rfind("</script>"));
  EXPECT_EQ(r.body.find("<img"), std::string::npos);
  EXPECT_EQ(r.body.find("\nalert"), std::string::npos);
}

TEST_F(SearchTest, TrailerRemovesStartAndLengthWhereverTheyStand) {
  Response r = Query(*ext, "Search&Length=10&Pattern=podatek&TypyDoc=1&Start=1");
  // A first field is removed from its name on; the "&" behind it stays.
  EXPECT_NE(r.body.find("val=\"portico.dll?Search&&Pattern=podatek&TypyDoc=1&Start=11&Length=\";"), std::string::npos);
  EXPECT_NE(r.body.find("VALUE=\"10\"> pozycji"), std::string::npos);
}

TEST(SearchCache, EvictsAlternateHalvesWhenFull) {
  CSearchCache cache;
  std::vector<std::string> queries;
  for (int i = 0; i < 101; ++i) {
    queries.push_back("Pattern=q" + std::to_string(i));
    cache.Store(queries.back(), std::make_shared<const std::vector<DWORD>>(1, DWORD(i)));
  }
  ASSERT_EQ(cache.Size(), 101u);
  std::vector<std::string> byKey = queries;
  std::sort(byKey.begin(), byKey.end(),
            [](const std::string& a, const std::string& b) { return CSearchCache::Key(a) < CSearchCache::Key(b); });

  // The 102nd query evicts the 50 lowest keys first.
  cache.Store("Pattern=new1", std::make_shared<const std::vector<DWORD>>());
  EXPECT_EQ(cache.Size(), 52u);
  for (int i = 0; i < 101; ++i) EXPECT_EQ(cache.Contains(byKey[i]), i >= 50) << i;
  EXPECT_TRUE(cache.Contains("Pattern=new1"));

  // Filled up again, the next eviction takes the upper half of the key order.
  std::vector<std::string> more;
  for (int i = 0; cache.Size() < 101; ++i) {
    more.push_back("Pattern=r" + std::to_string(i));
    cache.Store(more.back(), std::make_shared<const std::vector<DWORD>>());
  }
  std::vector<std::string> held;
  for (const std::string& q : byKey)
    if (cache.Contains(q)) held.push_back(q);
  held.push_back("Pattern=new1");
  held.insert(held.end(), more.begin(), more.end());
  std::sort(held.begin(), held.end(),
            [](const std::string& a, const std::string& b) { return CSearchCache::Key(a) < CSearchCache::Key(b); });
  ASSERT_EQ(held.size(), 101u);
  cache.Store("Pattern=new2", std::make_shared<const std::vector<DWORD>>());
  EXPECT_EQ(cache.Size(), 52u);
  for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(cache.Contains(held[i]), i < 50 || i == 100) << i;
}

TEST(SearchCache, StoringACachedQueryKeepsItsList) {
  CSearchCache cache;
  cache.Store("Pattern=a", std::make_shared<const std::vector<DWORD>>(1, 1));
  cache.Store("Pattern=a", std::make_shared<const std::vector<DWORD>>(1, 2));
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_EQ(cache.Find("Pattern=a")->at(0), 1u);
  EXPECT_EQ(cache.Find(kCollidingA), nullptr);
  cache.Store(kCollidingA, std::make_shared<const std::vector<DWORD>>(1, 3));
  EXPECT_EQ(cache.Find(kCollidingB), nullptr);
  EXPECT_EQ(cache.Find(kCollidingA)->at(0), 3u);
}

TEST(SearchCache, EvictedListStaysValidForItsHolder) {
  CSearchCache cache;
  cache.Store("Pattern=held", std::make_shared<const std::vector<DWORD>>(1000, 7));
  CSearchCache::List held = cache.Find("Pattern=held");
  for (int i = 0; i < 300; ++i) cache.Store("Pattern=x" + std::to_string(i), std::make_shared<const std::vector<DWORD>>());
  EXPECT_FALSE(cache.Contains("Pattern=held"));
  EXPECT_EQ(held->size(), 1000u);
  EXPECT_EQ(held->back(), 7u);
}

TEST_F(SearchTest, EachBoundsKeepTheirOwnActsWhenMoreBoundsAreAskedThanKept) {
  // The acts within the bounds are kept for a few bounds at a time: asked in
  // turn for more bounds than that, again and in another order, with and
  // without a word, every page lists what its bounds select. Worked out from
  // the documents: Dz.U. 97.12 positions 1-57 in slots 0-56, "kodeks" in the
  // odd ones.
  // Some share their first position, some their last.
  const std::vector<std::pair<int, int>> bounds = {{1, 9},   {1, 20}, {5, 12}, {5, 7}, {20, 31},
                                                   {13, 31}, {40, 57}, {2, 2},  {3, 50}};
  ASSERT_GT(bounds.size(), CRangeCache::kMaxEntries);
  auto check = [&](std::size_t k) {
    const auto [first, last] = bounds[k];
    const std::string where = "&TypyDoc=1&ODP=" + std::to_string(first) + "&DOP=" + std::to_string(last);
    std::vector<int> all, odd;
    for (int p = first; p <= last; ++p) {
      all.push_back(p - 1);
      if (p % 2) odd.push_back(p - 1);
    }
    // The bounds hold for every year and number: the first positions of
    // 98.464, 95.1 and 96.2 too (98.465.2 lies above the last number).
    if (first == 1) all.insert(all.end(), {58, 60, 61});
    // The page's list up to its end (a longer list's next-page trailer is checked elsewhere).
    auto expectListed = [&](const std::string& body, const std::vector<int>& slots) {
      if (slots.empty()) {
        EXPECT_EQ(body, kNothing) << where;
        return;
      }
      const std::size_t shown = std::min<std::size_t>(slots.size(), 20);
      const std::string expected =
          List("Dokumenty znalezione (" + std::to_string(slots.size()) + " pozycji) Wyświetlono od pozycji 1 do pozycji " +
                   std::to_string(shown),
               std::vector<int>(slots.begin(), slots.begin() + shown), "");
      auto list = [](const std::string& b) { return b.substr(0, b.find("</UL>")); };
      EXPECT_EQ(list(body), list(expected)) << where;
    };
    expectListed(Query(*ext, "Search" + where).body, all);
    expectListed(Query(*ext, "Search&Pattern=kodeks" + where).body, odd);
  };
  for (std::size_t k = 0; k < bounds.size(); ++k) check(k);
  for (std::size_t k = bounds.size(); k-- > 0;) check(k);
  for (std::size_t k = 0; k < bounds.size(); k += 2) check(k);
  EXPECT_EQ(ext->RangeCache().Size(), CRangeCache::kMaxEntries);
}

TEST_F(SearchTest, PagesAreRightWhileManyRequestsEvictTheCache) {
  // 120 distinct queries over 101 cache places: lookups, stores and
  // evictions interleave on eight threads; each page must be the one its
  // query gives alone.
  auto query = [](int i) {
    return "Search&Pattern=podatek&TypyDoc=1&ODP=" + std::to_string(1 + i % 40) + "&DOP=" + std::to_string(20 + i) +
           "&Start=" + std::to_string(1 + i % 3);
  };
  std::vector<std::string> expected;
  for (int i = 0; i < 120; ++i) expected.push_back(Query(*ext, query(i)).body);
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 150; ++k) {
        int i = (k * 7 + t * 13) % 120;
        if (Query(*ext, query(i)).body != expected[i]) ++wrong[t];
      }
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(wrong[t], 0) << t;
  EXPECT_LE(ext->SearchCache().Size(), 101u);
}

}  // namespace
}  // namespace portico
