// Word and key queries on a real indexed container: every operator and
// wildcard form against a scan of the documents, phrases against the raw
// document bytes, and the find handles.
#include <functional>

#include "doc_fixture.h"

using namespace doctest;

namespace {

class DocQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    CDocServer writer(path.c_str(), &guid, kCreate);
    DocMaker maker(21);
    for (int i = 0; i < 60; ++i) AddDoc(writer, "d" + std::to_string(i), maker.Make(8 + i % 13));
    writer.Close();
    ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
    words = ScanDocuments(base);
  }
  // Documents with a word for which `accept` holds.
  std::vector<DWORD> Having(const std::function<bool(const std::string&)>& accept) {
    std::set<DWORD> out;
    for (const auto& [w, docs] : words)
      if (accept(w))
        for (const auto& [item, n] : docs) out.insert(item);
    return std::vector<DWORD>(out.begin(), out.end());
  }
  std::vector<DWORD> Having(const std::string& word) {
    return Having([&](const std::string& w) { return w == word; });
  }
  static std::vector<DWORD> And(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    std::vector<DWORD> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
  }
  static std::vector<DWORD> Or(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    std::vector<DWORD> out;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
  }
  static std::vector<DWORD> Minus(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    std::vector<DWORD> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
  }

  TempDir dir;
  std::string path = dir.File("q.vq");
  GUID guid = TestGuid();
  CDocServer base;
  std::map<std::string, std::map<DWORD, DWORD>> words;
};

bool StartsWith(const std::string& w, const std::string& p) { return w.compare(0, p.size(), p) == 0; }
bool EndsWith(const std::string& w, const std::string& s) {
  return w.size() >= s.size() && w.compare(w.size() - s.size(), s.size(), s) == 0;
}

}  // namespace

TEST_F(DocQuery, EveryWordFindsTheDocumentsHoldingIt) {
  for (const auto& [w, docs] : words) EXPECT_EQ(Query(base, w.c_str()), Having(w)) << w;
}

TEST_F(DocQuery, OperatorsCombineLeftToRight) {
  EXPECT_EQ(Query(base, "ustawa kodeks"), Or(Having("USTAWA"), Having("KODEKS")));
  EXPECT_EQ(Query(base, "ustawa LUB kodeks"), Or(Having("USTAWA"), Having("KODEKS")));
  EXPECT_EQ(Query(base, "kodeks I pracy"), And(Having("KODEKS"), Having("PRACY")));
  EXPECT_EQ(Query(base, "kodeks NIE pracy"), Minus(Having("KODEKS"), Having("PRACY")));
  EXPECT_TRUE(Query(base, "NIE kodeks").empty());
  EXPECT_EQ(Query(base, "NIE kodeks karny"), Having("KARNY"));
  EXPECT_EQ(Query(base, "kodeks I pracy 1997"), Or(And(Having("KODEKS"), Having("PRACY")), Having("1997")));
  EXPECT_EQ(Query(base, "(kodeks pracy) I 1997"), And(Or(Having("KODEKS"), Having("PRACY")), Having("1997")));
  EXPECT_EQ(Query(base, "wyrok NIE (sąd trybunał)"), Minus(Having("WYROK"), Or(Having("SĄD"), Having("TRYBUNAŁ"))));
  EXPECT_EQ(Query(base, "1997 I 2004 NIE 7"), Minus(And(Having("1997"), Having("2004")), Having("7")));
}

TEST_F(DocQuery, WildcardsTakeTheWordsThatFitThePattern) {
  EXPECT_EQ(Query(base, "ust*"), Having([](const std::string& w) { return StartsWith(w, "UST"); }));
  EXPECT_EQ(Query(base, "*WA"), Having([](const std::string& w) { return EndsWith(w, "WA"); }));
  EXPECT_EQ(Query(base, "*TAW*"), Having([](const std::string& w) { return w.find("TAW") != std::string::npos; }));
  EXPECT_EQ(Query(base, "k?deks"), Having("KODEKS"));
  EXPECT_EQ(Query(base, "**"), Having([](const std::string&) { return true; }));
  EXPECT_TRUE(Query(base, "*").empty());
  EXPECT_EQ(Query(base, "*ÓŁW"), Having("ŻÓŁW"));
  // No backtracking: the star stops at the first A of ZAWIADAWCA.
  EXPECT_TRUE(Query(base, "*AWCA").empty());
  EXPECT_FALSE(Having("ZAWIADAWCA").empty());
}

namespace {

// A base of a few documents written for the phrase rules.
class DocPhrases : public ::testing::Test {
 protected:
  void SetUp() override {
    CDocServer writer(path.c_str(), &guid, kCreate);
    for (const auto& [name, text] : kDocs) AddDoc(writer, name, text);
    writer.Close();
    ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
  }
  std::vector<DWORD> Docs(std::initializer_list<const char*> names) {
    std::vector<DWORD> out;
    for (const char* n : names) out.push_back(base.GetItemIndex(n));
    std::sort(out.begin(), out.end());
    return out;
  }

  const std::vector<std::pair<std::string, std::string>> kDocs = {
      {"p1", "Ustawa - Kodeks pracy oraz inne"},
      {"p2", "kodeks <B>pracy</B> i kodeks karny"},
      {"p3", "KODEKS@PRACY w tekscie z 1990"},
      {"p4", "na samym koncu: kodeks pracy"},
      {"p5", ""},
      {"p6", "Kodeks  pracy ze spacjami z 199P"},
      {"p7", "\"Kodeks\" pracy"},
  };
  TempDir dir;
  std::string path = dir.File("p.vq");
  GUID guid = TestGuid();
  CDocServer base;
};

}  // namespace

TEST_F(DocPhrases, PhrasesMatchTheRawBytesInEitherCase) {
  EXPECT_EQ(Query(base, "\"kodeks pracy\""), Docs({"p1", "p3", "p4"}));
  EXPECT_EQ(Query(base, "\"Kodeks Pracy\""), Docs({"p1", "p3", "p4"}));
  // Markup, a second space or a quote between the words is no match.
  EXPECT_EQ(Query(base, "\"kodeks  pracy\""), Docs({"p6"}));
  EXPECT_EQ(Query(base, "\"kodeks karny\" ustawa"), Docs({"p2"}));
  EXPECT_EQ(Query(base, "\"kodeks\" \"pracy\""), Docs({"p1", "p2", "p3", "p4", "p6", "p7"}));
  EXPECT_EQ(Query(base, "\"tekscie z 1990\""), Docs({"p3"}));
  // The digit 0 also matches the letter P (its partner byte).
  EXPECT_EQ(Query(base, "\"spacjami z 1990\" spacjami"), Docs({"p6"}));
}

TEST_F(DocPhrases, PhraseEndingAtTheLastByteIsFound) {
  EXPECT_EQ(Query(base, "\"koncu: kodeks pracy\""), Docs({"p4"}));
  EXPECT_EQ(Query(base, "\"pracy\""), Docs({"p1", "p2", "p3", "p4", "p6", "p7"}));
}

TEST_F(DocQuery, EmptyQueriesAndStopWordsFindNothing) {
  WORD first = 1234;
  EXPECT_EQ(base.FindFirstDoc(nullptr, &first, nullptr), CDocServer::NoFind());
  EXPECT_EQ(base.FindFirstDoc("", &first, nullptr), CDocServer::NoFind());
  EXPECT_EQ(base.FindFirstDoc("oraz i lub nie z", &first, nullptr), CDocServer::NoFind());
  EXPECT_EQ(base.FindFirstDoc("\"\"", &first, nullptr), CDocServer::NoFind());
  EXPECT_EQ(first, 1234);
}

TEST_F(DocQuery, HandlesCountWalkAndRelease) {
  WORD first = 0;
  BYTE untouched = 0x5A;
  CDocServer::FindHandle* h = base.FindFirstDoc("kodeks", &first, &untouched);
  ASSERT_NE(h, CDocServer::NoFind());
  EXPECT_EQ(untouched, 0x5A);
  std::vector<DWORD> expected = Having("KODEKS");
  EXPECT_EQ(CDocServer::GetFindItems(h), expected.size());
  EXPECT_EQ(first, expected[0]);
  WORD next = 0;
  ASSERT_TRUE(CDocServer::FindNextDoc(h, &next));
  EXPECT_EQ(next, expected[1]);
  EXPECT_TRUE(CDocServer::FindClose(h));  // given up before the end
  EXPECT_TRUE(CDocServer::FindClose(nullptr));
  EXPECT_TRUE(CDocServer::FindClose(CDocServer::NoFind()));
  EXPECT_EQ(CDocServer::GetFindItems(CDocServer::NoFind()), 0);
  EXPECT_FALSE(CDocServer::FindNextDoc(CDocServer::NoFind(), &next));
}

TEST(DocQueryLarge, ItemIndicesAreHandedOutAsTheirLow16Bits) {
  TempDir dir;
  std::string path = dir.File("big.vq");
  GUID guid = TestGuid();
  CDocServer base(path.c_str(), &guid, kCreate);
  AddDoc(base, "first", "daleko");
  EXPECT_EQ(AddDoc(base, "far", "daleko stąd", "FAR", 70000), 70000u);
  EXPECT_EQ(Query(base, "stąd"), std::vector<DWORD>{70000 & 0xFFFF});
  EXPECT_EQ(Query(base, "daleko"), (std::vector<DWORD>{0, 4464}));
  EXPECT_EQ(KeyQuery(base, "FAR"), std::vector<DWORD>{4464});
}
