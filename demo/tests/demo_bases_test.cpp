// The demo bases as the catalogue reads them: build them with the demo step
// (demo/build-demo.sh: vamudemo, then vamubase) and check the table of acts,
// the keys and the references of the rulings against the naming scheme.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "platform/file.h"

namespace {

class DemoBases : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // CTest runs each test as a process of its own, several at once: one directory each.
    dir = ::testing::TempDir() + "/vamu_demo_bases." + std::to_string(::getpid());
    std::string command = "rm -rf '" + dir + "' && '" VAMU_SOURCE_DIR "/demo/build-demo.sh' '" VAMU_BIN_DIR "' '" +
                          dir + "' >/dev/null";
    built = std::system(command.c_str()) == 0;
    if (!built) return;
    catalogue = new CSrvSrv;
    catalogue->SetCacheDirectory("");
    opened = catalogue->Init("biblion", {dir + "/bases/acts.vq", dir + "/bases/rulings.vq"});
  }
  static void TearDownTestSuite() {
    delete catalogue;
    catalogue = nullptr;
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  void SetUp() override {
    ASSERT_TRUE(built) << "demo/build-demo.sh failed";
    ASSERT_TRUE(opened);
  }
  static std::string Name(DWORD index) {
    _FILEITEM* item = catalogue->GetItem(index);
    std::string name = item ? item->szName : "";
    CSrvSrv::FreeFileItem(item);
    return name;
  }
  static std::string Text(DWORD index) {
    CMemFile file(4096);
    _FILEITEM* item = catalogue->GetFile(index, file, 0, FALSE);
    CSrvSrv::FreeFileItem(item);
    std::string text(file.GetLength(), '\0');
    file.SeekToBegin();
    file.Read(text.data(), static_cast<UINT>(text.size()));
    return text;
  }
  static std::vector<DWORD> Key(const char* key) {
    std::vector<DWORD> out;
    DWORD index = 0;
    void* h = catalogue->FindFirstDocFromKey(key, &index);
    if (h == CSrvSrv::NoFind()) return out;
    out.push_back(index);
    while (CSrvSrv::FindNextDoc(h, &index)) out.push_back(index);
    return out;
  }
  static inline std::string dir;
  static inline bool built = false, opened = false;
  static inline CSrvSrv* catalogue = nullptr;
};

std::vector<DWORD> Years(const CSrvSrv& c, DWORD kind) {
  std::vector<DWORD> out;
  c.GetYears(_RNP::Make(kind, 0, 0, 0), out);
  return out;
}

TEST_F(DemoBases, TreeOfTheJournalByYearNumberAndPosition) {
  EXPECT_EQ(Years(*catalogue, _RNP::kDzU), (std::vector<DWORD>{7, 60, 64, 97}));
  EXPECT_TRUE(Years(*catalogue, _RNP::kMP).empty());
  std::vector<DWORD> numbers, positions;
  catalogue->GetNumbers(_RNP::Make(0, 97, 0, 0), numbers);
  EXPECT_EQ(numbers, (std::vector<DWORD>{78, 88}));  // no stray number 0 from rulings lists
  catalogue->GetPositions(_RNP::Make(0, 97, 78, 0), positions);
  EXPECT_EQ(positions, std::vector<DWORD>{483});
}

TEST_F(DemoBases, ConstitutionHasThreeVersionsAndItsFirstTextTitlesTheAct) {
  std::vector<DWORD> versions;
  _RNP act = catalogue->GetSubPositions(_RNP::Make(0, 97, 0, 483), versions);
  EXPECT_EQ(act.Number(), 78u);
  ASSERT_EQ(versions.size(), 3u);  // the rulings list (kind O) is not a version
  std::vector<std::string> names;
  for (DWORD v : versions) names.push_back(Name(catalogue->GetIndex(act, _RNP(v))));
  EXPECT_EQ(names, (std::vector<std::string>{"D97483D061471.HTM", "D97483D09946.HTM", "D97483D97483.HTM"}));
  EXPECT_EQ(_RNP(versions[2]), act);  // the first text: "Tekst Pierwotny"
  EXPECT_EQ(_RNP(versions[1]).Number(), 114u);  // the amendment's number, from the title
  EXPECT_EQ(catalogue->GetTitle(act, act).rfind("Dz.U.97.78.483 - Konstytucja Rzeczypospolitej Polskiej", 0), 0u);
}

TEST_F(DemoBases, SingleVersionActsAndTheirTitles) {
  std::vector<DWORD> versions;
  _RNP kk = catalogue->GetSubPositions(_RNP::Make(0, 97, 88, 553), versions);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(Name(catalogue->GetIndex(kk, _RNP(versions[0]))), "D97553D97553.HTM");
  EXPECT_NE(catalogue->GetTitle(kk, kk).find("- Ustawa z dnia 6 czerwca 1997 r. - Kodeks karny"), std::string::npos);
}

TEST_F(DemoBases, KeysOfActsRulingsAndRelatedActs) {
  // The act's prefix finds its versions, oldest first: an ".ATT" reference shows the newest.
  std::vector<DWORD> versions = Key("D97483");
  ASSERT_EQ(versions.size(), 3u);
  EXPECT_EQ(Name(versions.back()), "D97483D09946.HTM");
  EXPECT_EQ(Key("D97483OO").size(), 7u);
  for (DWORD r : Key("D97483OO")) EXPECT_EQ(r >> 16, 1u) << Name(r);  // rulings live in the second base
  EXPECT_EQ(Key("PRAWOCYWILNE").size(), 3u);
  EXPECT_EQ(Key("PRAWOPUBLICZNE").size(), 5u);
  EXPECT_NE(catalogue->GetItemIndex("D97483O.HTM"), CSrvSrv::kNoItem);
  EXPECT_NE(catalogue->GetItemIndex("SCHEMAT.JPG"), CSrvSrv::kNoItem);
}

TEST_F(DemoBases, EveryArticleARulingNamesHasItsHeading) {
  std::size_t checked = 0;
  for (const char* prefix : {"D97483", "D97553", "D64093", "D64296", "D60168", "D07331"}) {
    std::string act = Text(Key(prefix).back());
    for (DWORD r : Key((std::string(prefix) + "OO").c_str())) {
      std::string text = Text(r);
      auto b = text.find("<META KEYS=\"");
      ASSERT_NE(b, std::string::npos);
      b += 12;
      std::string refs = text.substr(b, text.find('"', b) - b);
      for (auto at = refs.find(std::string(prefix) + " ART."); at != std::string::npos;
           at = refs.find(std::string(prefix) + " ART.", at + 1)) {
        std::size_t n = at + 11, e = n;
        while (e < refs.size() && std::isdigit(static_cast<unsigned char>(refs[e]))) ++e;
        std::string number = refs.substr(n, e - n);
        if (refs[e] == '-') continue;  // a range: its ends may be repealed articles
        if (refs[e] == '(') number += "[" + refs.substr(e + 1, refs.find(')', e) - e - 1) + "]";
        EXPECT_NE(act.find("<P>Art. " + number + "."), std::string::npos) << prefix << " " << number;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 50u);
}

}  // namespace
