// Marked query words on a real indexed container: "~word" (every form the
// base holds), "^word" (letters without marks), both together, in every
// operator and in phrases. The expected documents were worked out by hand
// from the texts below and the Polish dictionary's lemmas of their words.
#include <thread>

#include <fstream>
#include <iterator>

#include "concorda/lemmatizer.h"
#include "concorda/positions_file.h"
#include "concorda/positions_format.h"
#include "concorda/word_forms.h"
#include "doc_fixture.h"
#include "file_bytes.h"
#include "platform/message_box.h"

using namespace doctest;

namespace {

// Literals are compiled to windows-1250 (vamu_cp1250), as the base holds text.
std::string W(const std::string& text) { return text; }

class MarkedQuery : public ::testing::Test {
 protected:
  static constexpr const char* kTexts[] = {
      "<P>Zawarto umowę najmu lokalu.</P>",          // 0
      "Strony <B>umowy</B> najmu.",                   // 1
      "Umowa o pracę.",                               // 2
      "Sąd w Łodzi orzekł.",                          // 3
      "lodz sad",                                     // 4
      "umownie najmniej",                             // 5
      "Ustawa o sądach.",                             // 6
      "xyz123 qwzrtx",                                // 7
      "miasto Łódź",                                  // 8
      "najmu, umowa",                                 // 9
  };
  void SetUp() override {
    ASSERT_NE(concorda::CLemmatizer::Shared(), nullptr) << "the Polish dictionary is missing (hunspell-pl)";
    CDocServer writer(path.c_str(), &guid, kCreate);
    for (std::size_t i = 0; i < std::size(kTexts); ++i) AddDoc(writer, "d" + std::to_string(i), W(kTexts[i]));
    writer.Close();
    ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
  }
  std::vector<DWORD> Q(const std::string& utf8) { return Query(base, W(utf8).c_str()); }
  std::optional<std::vector<DWORD>> Within(const std::string& utf8, const concorda::CQueryBudget::Limits& limits) {
    return QueryWithin(base, W(utf8).c_str(), limits);
  }

  TempDir dir;
  std::string path = dir.File("m.vq");
  GUID guid = TestGuid();
  CDocServer base;
};

using Docs = std::vector<DWORD>;

TEST_F(MarkedQuery, FormsFindEveryInflectedWordOfTheLemma) {
  EXPECT_EQ(Q("umowa"), (Docs{2, 9}));            // as written, as before
  EXPECT_EQ(Q("~umowa"), (Docs{0, 1, 2, 9}));     // umowę, umowy, Umowa (not umownie)
  EXPECT_EQ(Q("~umowy"), (Docs{0, 1, 2, 9}));     // any form leads to the same lemma
  EXPECT_EQ(Q("~najem"), (Docs{0, 1, 9}));        // najmu; "najmniej" is another word
  EXPECT_EQ(Q("~sąd"), (Docs{3, 6}));             // Sąd, sądach; "sad" is an orchard
  EXPECT_EQ(Q("~łódź"), (Docs{3, 8}));            // Łodzi, Łódź
}

TEST_F(MarkedQuery, FormsWorkWithEveryOperatorAndGroup) {
  EXPECT_EQ(Q("~umowa I ~najem"), (Docs{0, 1, 9}));
  EXPECT_EQ(Q("~umowa NIE ~najem"), (Docs{2}));
  EXPECT_EQ(Q("(~umowa I ~praca) LUB ~sąd"), (Docs{2, 3, 6}));
  EXPECT_EQ(Q("~ustawa ~miasto"), (Docs{6, 8}));
  EXPECT_EQ(Q("xyz123 I ~umowa"), Docs{});
}

TEST_F(MarkedQuery, WordsTheDictionaryDoesNotKnowMatchAsWritten) {
  EXPECT_EQ(Q("~qwzrtx"), (Docs{7}));
  EXPECT_EQ(Q("~xyz123"), (Docs{7}));
  EXPECT_EQ(Q("~qwzrt"), Docs{});
}

TEST_F(MarkedQuery, PatternsKeepTheirOwnWords) {
  // A wildcard term stands for the words it matches; the forms marker adds none.
  EXPECT_EQ(Q("~umow*"), (Docs{0, 1, 2, 5, 9}));
  EXPECT_EQ(Q("^lod*"), (Docs{3, 4, 8}));        // ŁODZI, LODZ, ŁÓDŹ
  // A used-up pattern matches whatever remains (MatchPattern), folded too.
  EXPECT_EQ(Q("^*dz"), (Docs{3, 4, 8}));         // ŁODZI, LODZ, ŁÓDŹ
  EXPECT_EQ(Q("^s?d"), (Docs{3, 4, 6}));         // SĄD, SAD, SĄDACH
  EXPECT_EQ(Q("^*dzi"), (Docs{3}));
}

TEST_F(MarkedQuery, FoldedWordsReadAlikeWithoutMarks) {
  EXPECT_EQ(Q("^sad"), (Docs{3, 4}));            // SĄD and SAD, not SĄDACH
  EXPECT_EQ(Q("^lodz"), (Docs{4, 8}));           // LODZ and ŁÓDŹ, not ŁODZI
  EXPECT_EQ(Q("^łodz"), (Docs{4, 8}));           // marks in the query fold too
  EXPECT_EQ(Q("^umowe"), (Docs{0}));
  EXPECT_EQ(Q("^sad I ^lodz"), (Docs{4}));
}

TEST_F(MarkedQuery, FoldedFormsTakeTheLemmasOfTheWordsThatReadAlike) {
  // LODZ folds like ŁÓDŹ, whose forms are ŁÓDŹ and ŁODZI.
  EXPECT_EQ(Q("~^lodz"), (Docs{3, 4, 8}));
  EXPECT_EQ(Q("^~lodz"), (Docs{3, 4, 8}));       // markers in either order
  // SAD folds like SĄD: the forms of both lemmas.
  EXPECT_EQ(Q("~^sad"), (Docs{3, 4, 6}));
  EXPECT_EQ(Q("~^umowe"), (Docs{0, 1, 2, 9}));
}

TEST_F(MarkedQuery, PhrasesWithMarkedWordsMatchWordByWord) {
  EXPECT_EQ(Q("\"~umowa ~najem\""), (Docs{0, 1}));   // the order counts: not "najmu, umowa"
  EXPECT_EQ(Q("\"~najem ~umowa\""), (Docs{9}));      // punctuation between the words does not
  EXPECT_EQ(Q("\"~umowa o ~praca\""), (Docs{2}));
  EXPECT_EQ(Q("\"~umowa najem\""), Docs{});          // an unmarked word stands for itself
  EXPECT_EQ(Q("\"^sad w ^lodzi\""), (Docs{3}));
  // Unmarked phrases compare bytes, as before: markup between the words parts them.
  EXPECT_EQ(Q("\"umowę najmu\""), (Docs{0}));
  EXPECT_EQ(Q("\"umowy najmu\""), Docs{});
}

TEST_F(MarkedQuery, ProximityTakesMarkedWordsAndPhrases) {
  // From the positions file (a read-only base) and from the documents (a
  // base open for writing reads them): the same documents.
  auto both = [this](const std::string& utf8) {
    std::vector<DWORD> fromFile = Q(utf8);
    base.Close();
    {
      CDocServer writer(path.c_str(), nullptr, kWrite);
      EXPECT_EQ(Query(writer, W(utf8).c_str()), fromFile) << utf8;
    }
    EXPECT_TRUE(base.Init(path.c_str(), nullptr, kRead));
    return fromFile;
  };
  EXPECT_EQ(both("~umowa BLISKO/0 ~najem"), (Docs{0, 1, 9}));  // either order
  EXPECT_EQ(both("umowa BLISKO/0 ~najem"), (Docs{9}));         // UMOWA as written
  EXPECT_EQ(both("~umowa BLISKO/0 ~praca"), Docs{});           // "o" stands between
  EXPECT_EQ(both("~umowa BLISKO/1 ~praca"), (Docs{2}));
  EXPECT_EQ(both("\"~umowa ~najem\" BLISKO/0 ~lokal"), (Docs{0}));
  EXPECT_EQ(both("^sad BLISKO/3 ^lodz"), (Docs{4}));           // not ŁODZI
  EXPECT_EQ(both("~^sad BLISKO/3 ~^lodz"), (Docs{3, 4}));
  EXPECT_EQ(both("~umowa BLISKO/0 ~najem NIE lokalu"), (Docs{1, 9}));
}

TEST_F(MarkedQuery, MarkersStandingAloneAreSeparators) {
  EXPECT_EQ(Q("~ umowa"), (Docs{2, 9}));
  EXPECT_EQ(Q("umowa ~"), (Docs{2, 9}));
  EXPECT_EQ(Q("umowa~^"), (Docs{2, 9}));
  EXPECT_EQ(Q("~i ~w ~o"), Docs{});                    // stop words stay refused when marked
  EXPECT_EQ(Q("~^~^"), Docs{});
  EXPECT_EQ(Q("umowa I ~"), (Docs{2, 9}));             // "I" without an operand
}

TEST_F(MarkedQuery, TheWordsAMarkedWordStandsForAreChargedLikeAPatternsWords) {
  // ~umowa stands for UMOWA, UMOWY and UMOWĘ; ^lodz for LODZ and ŁÓDŹ.
  concorda::CQueryBudget::Limits limits;
  limits.expandedWords = 3;
  EXPECT_EQ(Within("~umowa", limits), (Docs{0, 1, 2, 9}));
  EXPECT_EQ(Within("~umowa", limits), (Docs{0, 1, 2, 9}));  // cached: charged alike
  EXPECT_EQ(Within("^lodz", limits), (Docs{4, 8}));
  EXPECT_EQ(Within("~umowa ^lodz", limits), std::nullopt);  // 5 words
  limits.expandedWords = 2;
  EXPECT_EQ(Within("~umowa", limits), std::nullopt);
  EXPECT_EQ(Within("~umowa", limits), std::nullopt);  // the cache does not make it cheaper
  EXPECT_EQ(Within("^lodz", limits), (Docs{4, 8}));
  // A phrase's marked words are charged again where the phrase is matched.
  limits.expandedWords = 4;
  EXPECT_EQ(Within("~umowa ~najem", limits), (Docs{0, 1, 2, 9}));
  EXPECT_EQ(Within("\"~umowa ~najem\"", limits), std::nullopt);
  limits.expandedWords = 8;
  EXPECT_EQ(Within("\"~umowa ~najem\"", limits), (Docs{0, 1}));
  // Plain words are no expansion, marked or not in the pattern's place.
  limits.expandedWords = 0;
  EXPECT_EQ(Within("umowa najmu", limits), (Docs{0, 1, 2, 9}));
}

TEST_F(MarkedQuery, AFoldedPatternOpeningWithAWildcardWalksTheWholeTable) {
  concorda::CQueryBudget::Limits limits;
  limits.tableScans = 0;
  EXPECT_EQ(Within("^*dz", limits), std::nullopt);
  EXPECT_EQ(Within("~*dz", limits), (Docs{4}));        // as the pattern *DZ: the suffix index
  EXPECT_EQ(Within("^lod*", limits), (Docs{3, 4, 8}));  // the fold order's range
  limits.tableScans = 1;
  EXPECT_EQ(Within("^*dz", limits), (Docs{3, 4, 8}));
  EXPECT_EQ(Within("^*dz ^*zi", limits), std::nullopt);
}

TEST_F(MarkedQuery, ManyThreadsBuildTheTablesOnce) {
  // A fresh object: the tables are built by whichever query comes first.
  CDocServer fresh(path.c_str(), nullptr, kRead);
  std::vector<std::thread> threads;
  std::vector<Docs> results(8);
  for (std::size_t t = 0; t < results.size(); ++t)
    threads.emplace_back([&, t] {
      results[t] = Query(fresh, W(t % 2 ? "~umowa I ~najem" : "^lodz ~sąd").c_str());
    });
  for (auto& th : threads) th.join();
  for (std::size_t t = 0; t < results.size(); ++t) EXPECT_EQ(results[t], t % 2 ? (Docs{0, 1, 9}) : (Docs{3, 4, 6, 8}));
}

TEST_F(MarkedQuery, TablesFollowTheBaseWhenItChanges) {
  base.Close();
  CDocServer writer(path.c_str(), nullptr, kWrite);
  EXPECT_EQ(Query(writer, W("~umowa").c_str()), (Docs{0, 1, 2, 9}));
  EXPECT_EQ(Query(writer, W("^zolw").c_str()), Docs{});
  const DWORD added = AddDoc(writer, "d10", W("o umowach i żółwiach, żółw"));
  ASSERT_NE(added, CFileServer::kNoItem);
  EXPECT_EQ(Query(writer, W("~umowa").c_str()), (Docs{0, 1, 2, 9, added}));
  EXPECT_EQ(Query(writer, W("^zolw").c_str()), (Docs{added}));
  writer.Close();
  CDocServer reread(path.c_str(), nullptr, kRead);
  EXPECT_EQ(Query(reread, W("~żółw").c_str()), (Docs{added}));
}

// --- the tables kept in the positions file ---

TEST_F(MarkedQuery, ThePositionsFileHoldsTheLemmaAndFoldTablesOfItsWords) {
  concorda::CPositionsFile file;
  ASSERT_EQ(file.Open(concorda::PositionsPath(path), guid, CDocServerProbe::StateStamp(base), base.GetSize()),
            concorda::CPositionsFile::State::kUsable);
  const concorda::WordList words{file.WordCount(), [&file](std::size_t i) { return file.Word(i); }};
  std::vector<BYTE> lemmas, folds;
  std::string why;
  ASSERT_TRUE(file.ReadOptionalSection(concorda::kSectionLemmas, lemmas, &why)) << why;
  ASSERT_TRUE(file.ReadOptionalSection(concorda::kSectionFolds, folds, &why)) << why;
  concorda::CWordForms table;
  ASSERT_TRUE(table.LoadLemmas(lemmas, words, &why)) << why;
  ASSERT_TRUE(table.LoadFolds(folds, words, &why)) << why;
  auto texts = [&](std::vector<DWORD> numbers) {
    std::set<std::string> out;
    for (DWORD n : numbers) out.emplace(file.Word(n));
    return out;
  };
  std::vector<DWORD> found;
  table.AppendForms(W("UMOWA"), found);
  EXPECT_EQ(texts(found), (std::set<std::string>{W("UMOWA"), W("UMOWY"), W("UMOWĘ")}));
  found.clear();
  table.AppendFolded("LODZ", found);
  EXPECT_EQ(texts(found), (std::set<std::string>{"LODZ", W("ŁÓDŹ")}));
  EXPECT_EQ(table.DictionaryIdentity(), concorda::CLemmatizer::Shared()->Identity());
}

// The answers of marked queries that use both tables, worked out by hand above.
void ExpectMarkedAnswers(CDocServer& s) {
  EXPECT_EQ(Query(s, W("~umowa").c_str()), (Docs{0, 1, 2, 9}));
  EXPECT_EQ(Query(s, W("~umowy I ~najem").c_str()), (Docs{0, 1, 9}));
  EXPECT_EQ(Query(s, W("^lodz").c_str()), (Docs{4, 8}));
  EXPECT_EQ(Query(s, W("~^lodz").c_str()), (Docs{3, 4, 8}));
  EXPECT_EQ(Query(s, W("~^sad").c_str()), (Docs{3, 4, 6}));
  EXPECT_EQ(Query(s, W("^*dz").c_str()), (Docs{3, 4, 8}));
  EXPECT_EQ(Query(s, W("\"~umowa ~najem\"").c_str()), (Docs{0, 1}));
  EXPECT_EQ(Query(s, W("~umowa BLISKO/0 ~najem").c_str()), (Docs{0, 1, 9}));
}

TEST_F(MarkedQuery, ATableTheFileCannotGiveIsBuiltInMemoryWithOneLogLine) {
  base.Close();
  const std::string positions = concorda::PositionsPath(path);
  const std::vector<BYTE> sound = FileBytes(positions);
  ASSERT_NE(SectionEntry(sound, concorda::kSectionLemmas), 0u);
  ASSERT_NE(SectionEntry(sound, concorda::kSectionFolds), 0u);
  std::vector<std::string> lines;
  MessageSink previous = SetMessageSink([&lines](const std::string& text, const std::string&) { lines.push_back(text); });
  auto answersWith = [&](const std::vector<BYTE>& bytes, const char* what) {
    WriteBytes(positions, bytes);
    lines.clear();
    {
      CDocServer reader(path.c_str(), nullptr, kRead);
      ExpectMarkedAnswers(reader);
      EXPECT_EQ(reader.PositionsState(), concorda::CPositionsFile::State::kUsable) << what;
    }
    return lines;
  };
  EXPECT_EQ(answersWith(sound, "sound"), std::vector<std::string>{});
  for (DWORD id : {concorda::kSectionLemmas, concorda::kSectionFolds}) {
    const char* table = id == concorda::kSectionLemmas ? "lemma table" : "fold table";
    const std::size_t entry = SectionEntry(sound, id);
    // A byte of the section flipped: its checksum fails.
    std::vector<BYTE> flipped = sound;
    const std::size_t at = Dword(sound, entry + 8) + Dword(sound, entry + 16) / 2;
    flipped[at] ^= 0x20;
    std::vector<std::string> logged = answersWith(flipped, "flipped");
    ASSERT_EQ(logged.size(), 1u) << table;
    EXPECT_NE(logged[0].find(table), std::string::npos) << logged[0];
    EXPECT_NE(logged[0].find("checksum"), std::string::npos) << logged[0];
    // A file without the section (an older program's): the section's id
    // made unknown, the header checksummed again.
    std::vector<BYTE> without = sound;
    without[entry] = 99;
    Rechecksum(without);
    logged = answersWith(without, "without");
    ASSERT_EQ(logged.size(), 1u) << table;
    EXPECT_NE(logged[0].find(table), std::string::npos) << logged[0];
  }
  // Stale: the base changed after the file was written; the positions are
  // not used at all, the tables come from the word table.
  WriteBytes(positions, sound);
  DWORD added = 0;
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    added = AddDoc(writer, "d10", W("umowami"));
  }
  WriteBytes(positions, sound);
  {
    CDocServer reader(path.c_str(), nullptr, kRead);
    EXPECT_EQ(Query(reader, W("~umowa").c_str()), (Docs{0, 1, 2, 9, added}));
    EXPECT_NE(reader.PositionsState(), concorda::CPositionsFile::State::kUsable);
  }
  SetMessageSink(previous);
}

}  // namespace
