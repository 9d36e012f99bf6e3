// The catalogue over real bases: the registry's list, combined indices,
// lookups by name, the table of acts read from the documents, and its cache.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "catalogue_fixture.h"

namespace {

using biblion_test::BaseADocs;
using biblion_test::BaseBDocs;
using biblion_test::CatalogueTest;
using biblion_test::Doc;
using biblion_test::Html;
using biblion_test::R;
using V = std::vector<DWORD>;
constexpr DWORD kNone = 0xFFFFFFFF;

// A container without index holding `count` items named N0.TXT, N1.TXT, ...
std::string PlainBase(const std::string& path, int count, const std::string& tag) {
  GUID guid = NewGuid();
  CFileServer fs;
  EXPECT_TRUE(fs.Init(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite));
  for (int i = 0; i < count; ++i) {
    std::string text = tag + std::to_string(i);
    CMemFile file(4096);
    file.Write(text.data(), static_cast<UINT>(text.size()));
    file.SeekToBegin();
    _FILEITEM* item = MakeFileItem(("N" + std::to_string(i) + ".TXT").c_str());
    fs.AddFile(file, item, 0);
    CFileServer::FreeFileItem(item);
  }
  fs.Close();
  return path;
}

std::string Contents(const CSrvSrv& cat, DWORD index) {
  CMemFile file(4096);
  _FILEITEM* item = cat.GetFile(index, file, 0, FALSE);
  if (!item) return "(none)";
  CSrvSrv::FreeFileItem(item);
  return std::string(reinterpret_cast<const char*>(file.GetBuffer()), static_cast<std::size_t>(file.GetLength()));
}

std::string NameOf(_FILEITEM* item) {
  std::string name = item ? item->szName : "(none)";
  CSrvSrv::FreeFileItem(item);
  return name;
}

TEST_F(CatalogueTest, CombinedIndicesCountSlotsOverTheBases) {
  Register({PlainBase(dir.File("ten.vq"), 10, "a"), PlainBase(dir.File("five.vq"), 5, "b")});
  CSrvSrv cat;
  cat.m_bNoTable = TRUE;
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_EQ(cat.GetName(), "biblion");
  EXPECT_EQ(cat.GetBaseCount(), 2u);
  EXPECT_EQ(cat.GetSize(), 15u);
  // Running numbers: base 1 begins where the slots of base 0 end, and an
  // ordinal equal to a running total names the slot past that base's last.
  EXPECT_EQ(cat.GetIndex(0), 0u);
  EXPECT_EQ(cat.GetIndex(9), 9u);
  EXPECT_EQ(cat.GetIndex(10), 10u);
  EXPECT_EQ(cat.GetItem(cat.GetIndex(10)), nullptr);
  EXPECT_EQ(cat.GetIndex(11), (1u << 16) | 1);
  EXPECT_EQ(cat.GetIndex(12), (1u << 16) | 2);
  EXPECT_EQ(cat.GetIndex(15), (1u << 16) | 5);
  EXPECT_EQ(cat.GetIndex(16), kNone);
  EXPECT_EQ(NameOf(cat.GetItem((1u << 16) | 3)), "N3.TXT");
  EXPECT_EQ(Contents(cat, (1u << 16) | 3), "b3");
  EXPECT_EQ(Contents(cat, 3), "a3");
  EXPECT_EQ(cat.GetItem((1u << 16) | 5), nullptr);  // past the second base's slots
  EXPECT_EQ(cat.GetItem(2u << 16), nullptr);        // no third base
  EXPECT_EQ(cat.GetItem(kNone), nullptr);
  CMemFile untouched(4096);
  untouched.Write("keep", 4);
  EXPECT_EQ(cat.GetFile(2u << 16, untouched, 0, FALSE), nullptr);
  EXPECT_EQ(untouched.GetLength(), 4u);
}

TEST_F(CatalogueTest, NamesResolveToTheFirstBaseThatHoldsThem) {
  Register({MakeBase("a.vq", BaseADocs()), MakeBase("b.vq", BaseBDocs())});
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_EQ(cat.GetItemIndex("HOME.HTM"), (1u << 16) | 2);  // only in the second base
  EXPECT_EQ(cat.GetItemIndex("DU\\D97034D97034.HTM"), 0u);  // in both: the first base's
  EXPECT_EQ(cat.GetItemIndex("D97034D98012.HTM"), 1u);      // by its last component
  EXPECT_EQ(cat.GetItemIndex("NOWHERE.HTM"), kNone);
  EXPECT_EQ(cat.GetItemIndex(nullptr), kNone);
  EXPECT_EQ(NameOf(cat.GetItem("HOME.HTM")), "HOME.HTM");
  EXPECT_EQ(cat.GetItem("NOWHERE.HTM"), nullptr);
  CMemFile file(4096);
  _FILEITEM* item = cat.GetFile("HOME.HTM", file, 0, FALSE);
  ASSERT_NE(item, nullptr);
  CSrvSrv::FreeFileItem(item);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.GetBuffer()), file.GetLength()), BaseBDocs()[2].text);
  EXPECT_EQ(cat.GetFile("NOWHERE.HTM", file, 0, FALSE), nullptr);
}

TEST_F(CatalogueTest, BasesThatCannotBeOpenedTakeNoNumber) {
  std::string a = MakeBase("a.vq", BaseADocs());
  std::string b = MakeBase("b.vq", BaseBDocs());
  std::string junk = dir.File("junk.vq");
  std::ofstream(junk) << "this is no container";
  Register({dir.File("missing.vq"), a, junk, b});
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_EQ(cat.GetBaseCount(), 2u);
  EXPECT_EQ(cat.GetBasePath(1), b);
  EXPECT_EQ(cat.GetItemIndex("HOME.HTM"), (1u << 16) | 2);
  // The caller learns what was left out, file by file and why; the
  // catalogue itself shows nothing.
  const std::vector<std::string>& problems = cat.GetProblems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "No base " + dir.File("missing.vq"));
  EXPECT_EQ(problems[1].rfind("Cannot open base " + junk + " (", 0), 0u) << problems[1];
  EXPECT_GT(problems[1].size(), ("Cannot open base " + junk + " ()").size()) << problems[1];  // a reason
  EXPECT_EQ(problems[1].back(), ')') << problems[1];
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.vq")));  // never created
  // Problems belong to the last Init: a catalogue over sound bases has none.
  Register({a, b});
  CSrvSrv sound;
  ASSERT_TRUE(sound.Init(nullptr));
  EXPECT_TRUE(sound.GetProblems().empty());
}

TEST_F(CatalogueTest, NoBasesMeansAnEmptyCatalogue) {
  Register({dir.File("missing.vq")});
  CSrvSrv cat;
  EXPECT_FALSE(cat.Init(nullptr));
  EXPECT_FALSE(cat.Init("other"));  // no such key at all
  EXPECT_EQ(cat.GetSize(), 0u);
  EXPECT_EQ(cat.GetIndex(0), kNone);
  EXPECT_EQ(cat.GetItemIndex("HOME.HTM"), kNone);
  EXPECT_EQ(cat.GetItem(0u), nullptr);
  DWORD first = 77;
  EXPECT_EQ(cat.FindFirstDoc("lasy", &first, nullptr), CSrvSrv::NoFind());
  EXPECT_EQ(first, 77u);
  V years;
  EXPECT_TRUE(cat.GetYears(R(0, 0, 0, 0), years));
  EXPECT_TRUE(years.empty());
}

TEST_F(CatalogueTest, ValuesThatAreNoPathsAreSkipped) {
  std::string a = MakeBase("a.vq", BaseADocs());
  CRegistry reg;
  std::string key = std::string(CSrvSrv::kRegistryKey) + "\\biblion";
  reg.SetDword(key, "Count", 5);
  reg.SetString(key, "Main", a);
  std::ofstream(registry, std::ios::binary | std::ios::trunc) << reg.Serialize();
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_EQ(cat.GetBaseCount(), 1u);
  ASSERT_EQ(cat.GetProblems().size(), 1u);
  EXPECT_EQ(cat.GetProblems()[0], "Not a base path: " + key + "\\Count");
  EXPECT_TRUE(messages.empty());
}

TEST_F(CatalogueTest, TableOfActsFromNamesAndTitles) {
  Register({MakeBase("a.vq", BaseADocs()), MakeBase("b.vq", BaseBDocs())});
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_FALSE(cat.TableFromCache());
  const _RNP act = R(0, 97, 12, 34);
  V years, mp, numbers, positions, versions;
  EXPECT_TRUE(cat.GetYears(R(0, 0, 0, 0), years));
  EXPECT_EQ(years, (V{97}));
  cat.GetYears(R(1, 0, 0, 0), mp);
  EXPECT_EQ(mp, (V{99}));
  cat.GetNumbers(R(0, 97, 0, 0), numbers);
  EXPECT_EQ(numbers, (V{12, 14}));
  cat.GetPositions(R(0, 97, 12, 0), positions);
  EXPECT_EQ(positions, (V{34}));
  EXPECT_EQ(cat.GetSubPositions(R(0, 97, 0, 34), versions), act);
  EXPECT_EQ(versions, (V{act.dw, R(0, 98, 5, 12).dw, R(0, 99, 1, 1).dw}));
  // The first text is in both bases: the later base's copy answers.
  EXPECT_EQ(cat.GetIndex(act, act), (1u << 16) | 1);
  EXPECT_EQ(cat.GetIndex(act, R(0, 98, 5, 12)), 1u);
  EXPECT_EQ(cat.GetIndex(act, R(0, 98, 6, 12)), kNone);
  EXPECT_EQ(cat.GetTitle(act, act), "Ustawa o lasach - tekst nowszy (Dz.U.97.12.34)");
  EXPECT_EQ(cat.GetTitle(act, R(0, 98, 6, 12)), "");
  // "Nr 14": number with the prefix flag.
  V flagged;
  EXPECT_EQ(cat.GetSubPositions(R(0, 97, 0, 40), flagged), R(0, 97, 14, 40, 1));
  EXPECT_EQ(cat.GetIndex(R(0, 97, 14, 40, 1), R(0, 97, 14, 40, 1)), 4u);
  EXPECT_EQ(cat.GetIndex(R(1, 99, 3, 5), R(1, 99, 3, 5)), 2u);
  // The image and the page that is no act are not in the table; the index's
  // own items neither.
  for (const auto& e : cat.GetActEntries()) {
    EXPECT_NE(e.dwIndex, 3u);
    EXPECT_NE(e.dwIndex, (1u << 16) | 2);
    EXPECT_LT(e.dwIndex & 0xFFFF, 5u);
  }
  EXPECT_EQ(cat.GetActEntries().size(), 6u);
}

TEST_F(CatalogueTest, FindFromRnpOverTheBases) {
  Register({MakeBase("a.vq", BaseADocs()), MakeBase("b.vq", BaseBDocs())});
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  // The search form's range: Dz.U., years 0-99, numbers 1-464, positions 1-2000.
  const _RNP from = R(0, 0, 1, 1), to = R(0, 99, 2000, 2000, 1);
  V out;
  ASSERT_TRUE(cat.FindFromRNP(&from, &to, 1, out));
  EXPECT_EQ(out, (V{(1u << 16) | 1, 4u}));  // one per act
  ASSERT_TRUE(cat.FindFromRNP(&from, &to, 2, out));
  EXPECT_EQ(out, (V{(1u << 16) | 1, 1u, 1u << 16, 4u}));  // every version
  ASSERT_TRUE(cat.FindFromRNP(&from, &to, 0, out));
  // The latest version of each act; a first text held by two bases ends the
  // walk through the versions at once, so that act also gives its first text.
  EXPECT_EQ(out, (V{(1u << 16) | 1, 1u << 16, 4u}));
  const _RNP none = R(0, 0, 15, 1), noneTo = R(0, 99, 20, 2000, 1);
  EXPECT_FALSE(cat.FindFromRNP(&none, &noneTo, 1, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(cat.FindFromRNP(nullptr, &to, 1, out));
}

TEST_F(CatalogueTest, DamagedDocumentsAreLeftOutOfTheTable) {
  std::string a = MakeBase("a.vq", BaseADocs());
  {
    // Overwrite the stored bytes of slot 1 with bytes no inflater accepts.
    CFileServer fs;
    ASSERT_TRUE(fs.Init(a.c_str(), nullptr, CFile::modeRead));
    CFileServer::ItemInfo info;
    ASSERT_TRUE(fs.GetItemInfo(1, info));
    fs.Close();
    std::fstream f(a, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(info.recordOffset + 2 + static_cast<std::streamoff>(info.name.size()) + 1 + 12);
    std::string junk(info.storedLength, '\xFF');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  Register({a});
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  V versions;
  cat.GetSubPositions(R(0, 97, 12, 34), versions);
  EXPECT_EQ(versions, (V{R(0, 97, 12, 34).dw}));  // the damaged amendment is missing
  EXPECT_EQ(cat.GetActEntries().size(), 3u);
}

// --- the cache file ---------------------------------------------------------------

class CacheTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    a = MakeBase("a.vq", BaseADocs());
    b = MakeBase("b.vq", BaseBDocs());
    // The bases were written before any cache: age them a little so that
    // a cache written now is plainly newer on any file system.
    for (const auto& p : {a, b}) Age(p);
  }
  static void Age(const std::string& path) {
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5));
  }
  // Entries of a fresh catalogue over the registered bases; fromCache tells how it got them.
  std::vector<biblion::ActEntry> Open(bool& fromCache, const std::string& name = "biblion") {
    CSrvSrv cat;
    cat.SetCacheDirectory(CacheDir());
    EXPECT_TRUE(cat.Init(name.c_str()));
    fromCache = cat.TableFromCache();
    cachePath = cat.GetCachePath();
    return cat.GetActEntries();
  }
  std::string CacheDir() {
    std::filesystem::create_directories(dir.File("cache"));
    return dir.File("cache");
  }
  // The cache files in the cache directory.
  std::vector<std::string> CacheFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(CacheDir())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool Same(const std::vector<biblion::ActEntry>& x, const std::vector<biblion::ActEntry>& y) {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (x[i].dwFirst != y[i].dwFirst || x[i].dwSecond != y[i].dwSecond || x[i].dwIndex != y[i].dwIndex)
        return false;
    return true;
  }
  std::string a, b, cachePath;
};

TEST_F(CacheTest, SecondStartLoadsTheCacheFromTheCacheDirectory) {
  Register({a, b});
  bool fromCache = true;
  auto built = Open(fromCache);
  EXPECT_FALSE(fromCache);
  // "<catalogue>-<16 hex digits>.itt" in the cache directory, nothing else.
  ASSERT_EQ(CacheFiles().size(), 1u);
  const std::string file = CacheFiles()[0];
  EXPECT_EQ(cachePath, dir.File("cache/" + file));
  EXPECT_EQ(file.size(), std::string("biblion-0123456789abcdef.itt").size());
  EXPECT_EQ(file.find_first_not_of("0123456789abcdef", 8), 24u) << file;
  EXPECT_EQ(file.rfind("biblion-", 0), 0u);
  auto loaded = Open(fromCache);
  EXPECT_TRUE(fromCache);
  EXPECT_TRUE(Same(built, loaded));
  EXPECT_EQ(std::filesystem::file_size(cachePath), 4 + 2 * 16 + 4 + 12 * built.size());
}

TEST_F(CacheTest, CataloguesOverOtherBasesNeverShareACacheFile) {
  // Two servers share the cache directory, one serves a and b, the other b
  // alone: each keeps its own cache file and loads it at its next start.
  bool fromCache = true;
  Register({a, b});
  auto both = Open(fromCache);
  const std::string bothPath = cachePath;
  Register({b});
  auto one = Open(fromCache);
  EXPECT_FALSE(fromCache);
  EXPECT_NE(cachePath, bothPath);
  Register({a, b});
  EXPECT_TRUE(Same(Open(fromCache), both));
  EXPECT_TRUE(fromCache);
  Register({b});
  EXPECT_TRUE(Same(Open(fromCache), one));
  EXPECT_TRUE(fromCache);
  EXPECT_EQ(CacheFiles().size(), 2u);
  // The same bases reached through a link are the same catalogue.
  std::filesystem::create_directory_symlink(dir.Path(), dir.File("alias"));
  Register({dir.File("alias/a.vq"), dir.File("alias/b.vq")});
  Open(fromCache);
  EXPECT_TRUE(fromCache);
  EXPECT_EQ(cachePath, bothPath);
}

TEST_F(CacheTest, NoCacheDirectoryMeansNoCacheFile) {
  Register({a, b});
  CSrvSrv cat;
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_EQ(cat.GetCachePath(), "");
  EXPECT_FALSE(cat.TableFromCache());
  EXPECT_EQ(cat.GetActEntries().size(), 6u);
  for (const auto& name : dir.Files()) EXPECT_EQ(name.find(".itt"), std::string::npos) << name;
  EXPECT_TRUE(messages.empty());
}

TEST_F(CacheTest, ReorderedBasesRebuildTheTable) {
  Register({a, b});
  bool fromCache = false;
  auto ab = Open(fromCache);
  Register({b, a});
  auto ba = Open(fromCache);
  EXPECT_FALSE(fromCache);
  ASSERT_EQ(ab.size(), ba.size());
  // The newer copy of the first text is now the one in base 1 (formerly base 0).
  CSrvSrv cat;
  cat.SetCacheDirectory(CacheDir());
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_TRUE(cat.TableFromCache());  // the rebuilt table was cached again
  EXPECT_EQ(cat.GetIndex(R(0, 97, 12, 34), R(0, 97, 12, 34)), 1u << 16);
  EXPECT_EQ(cat.GetIndex(R(0, 97, 12, 34), R(0, 99, 1, 1)), 0u);
}

TEST_F(CacheTest, ReplacedBaseRebuildsTheTable) {
  Register({a, b});
  bool fromCache = false;
  Open(fromCache);
  std::filesystem::remove(b);
  MakeBase("b.vq", {{"DU\\D96001D96001.HTM", Html("Ustawa (Dz.U.96.1.1)", "nowa"), ""}});
  Age(b);  // even an old file with another GUID is another base
  Open(fromCache);
  EXPECT_FALSE(fromCache);
  CSrvSrv cat;
  cat.SetCacheDirectory(CacheDir());
  ASSERT_TRUE(cat.Init(nullptr));
  V years;
  cat.GetYears(R(0, 0, 0, 0), years);
  EXPECT_EQ(years, (V{96, 97}));
}

TEST_F(CacheTest, BaseChangedInPlaceRebuildsTheTable) {
  Register({a, b});
  bool fromCache = false;
  Open(fromCache);
  {
    CDocServer base;
    ASSERT_TRUE(base.Init(b.c_str(), nullptr, CFile::modeReadWrite));
    GUID before = base.GetGuid();
    AddDoc(base, {"DU\\D95007D95007.HTM", Html("Ustawa (Dz.U.95.2.7)", "dodana"), ""});
    ASSERT_TRUE(base.Compact());
    EXPECT_TRUE(base.GetGuid() == before);  // same container, other slots
    base.Close();
  }
  Open(fromCache);
  EXPECT_FALSE(fromCache);
  // A base changed within the file system's clock tick of the cache counts
  // as changed after it; let the clock move on before the next start (the
  // cache's time: setting the base's back would change its status now).
  std::filesystem::last_write_time(cachePath,
                                   std::filesystem::file_time_type::clock::now() + std::chrono::minutes(1));
  CSrvSrv cat;
  cat.SetCacheDirectory(CacheDir());
  ASSERT_TRUE(cat.Init(nullptr));
  EXPECT_TRUE(cat.TableFromCache());
  V numbers;
  cat.GetNumbers(R(0, 95, 0, 0), numbers);
  EXPECT_EQ(numbers, (V{2}));
  EXPECT_EQ(NameOf(cat.GetItem(cat.GetIndex(R(0, 95, 2, 7), R(0, 95, 2, 7)))), "DU\\D95007D95007.HTM");
}

TEST_F(CacheTest, DamagedCacheIsRebuiltAndRewritten) {
  Register({a, b});
  bool fromCache = false;
  auto built = Open(fromCache);
  std::filesystem::resize_file(cachePath, std::filesystem::file_size(cachePath) - 5);
  auto rebuilt = Open(fromCache);
  EXPECT_FALSE(fromCache);
  EXPECT_TRUE(Same(built, rebuilt));
  Open(fromCache);
  EXPECT_TRUE(fromCache);
}

TEST_F(CacheTest, UnwritableCacheCostsOnlyTheRebuildAndIsLogged) {
  Register({a, b});
  for (int round = 0; round < 2; ++round) {
    CSrvSrv cat;
    cat.SetCacheDirectory(dir.File("no/such/dir"));
    ASSERT_TRUE(cat.Init(nullptr));
    EXPECT_FALSE(cat.TableFromCache());
    EXPECT_EQ(cat.GetActEntries().size(), 6u);
    // Each start tells its caller again; the catalogue shows nothing itself.
    ASSERT_EQ(cat.GetProblems().size(), 1u);
    const std::string& problem = cat.GetProblems()[0];
    EXPECT_EQ(problem.rfind("No cache of the table of acts: cannot write " + dir.File("no/such/dir/biblion-"), 0), 0u)
        << problem;
    EXPECT_NE(problem.find("(No such file or directory)"), std::string::npos) << problem;
  }
  CSrvSrv none;
  none.SetCacheDirectory("");
  ASSERT_TRUE(none.Init(nullptr));
  EXPECT_EQ(none.GetCachePath(), "");
  EXPECT_TRUE(none.GetProblems().empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(CacheTest, SuppressedTableNeitherBuildsNorWrites) {
  Register({a}, "TOC");
  CSrvSrv toc;
  toc.m_bNoTable = TRUE;
  toc.SetCacheDirectory(CacheDir());
  ASSERT_TRUE(toc.Init("TOC"));
  EXPECT_TRUE(toc.GetActEntries().empty());
  EXPECT_TRUE(CacheFiles().empty());
  CSrvSrv withTable;
  withTable.SetCacheDirectory(CacheDir());
  ASSERT_TRUE(withTable.Init("TOC"));
  ASSERT_EQ(CacheFiles().size(), 1u);
  EXPECT_EQ(withTable.GetCachePath(), dir.File("cache/" + CacheFiles()[0]));
  EXPECT_EQ(CacheFiles()[0].rfind("TOC-", 0), 0u);
}

}  // namespace
