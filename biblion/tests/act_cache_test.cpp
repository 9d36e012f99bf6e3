// The cache file of the table of acts: its layout, when it is trusted, and
// that a damaged, foreign or stale file is never loaded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "biblion/act_cache.h"
#include "biblion/act_table.h"
#include "table_fixture.h"

namespace {

using biblion::ActEntry;
using biblion_test::R;
using biblion_test::TempDir;

const GUID kA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kB{0xAAAAAAAA, 0xBBBB, 0xCCCC, {9, 8, 7, 6, 5, 4, 3, 2}};

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Sets a base's modification time an hour back. That changes its status time
// to now, so a cache counts as current only when written after the touch.
void Touch(const std::string& path) {
  std::ofstream(path, std::ios::app) << "";
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

class ActCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    baseA = dir.File("a.vq");
    baseB = dir.File("b.vq");
    Touch(baseA);
    Touch(baseB);
    cache = dir.File("biblion.itt");
    std::vector<ActEntry> e = {{R(0, 97, 12, 34).dw, R(0, 97, 12, 34).dw, 0x00010002},
                               {R(0, 97, 12, 34).dw, R(0, 98, 5, 12).dw, 0x00000001},
                               {R(1, 95, 1, 1).dw, R(15, 0, 1, 0).dw, 0x00000007}};
    biblion::CActTable t;
    t.Assign(e);
    entries = t.Entries();
  }
  bool Load(std::vector<ActEntry>& out, std::vector<GUID> guids = {kA, kB}) {
    return biblion::LoadActCache(cache, guids, {baseA, baseB}, out);
  }

  TempDir dir;
  std::string baseA, baseB, cache;
  std::vector<ActEntry> entries;
};

TEST_F(ActCacheTest, WrittenCacheHasTheFixedLayoutAndLoads) {
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  std::vector<char> raw = ReadAll(cache);
  ASSERT_EQ(raw.size(), 4 + 2 * 16 + 4 + 12 * entries.size());
  auto word = [&](std::size_t at) {
    return static_cast<DWORD>(static_cast<BYTE>(raw[at]) | static_cast<BYTE>(raw[at + 1]) << 8 |
                              static_cast<BYTE>(raw[at + 2]) << 16 | static_cast<DWORD>(static_cast<BYTE>(raw[at + 3])) << 24);
  };
  EXPECT_EQ(word(0), 2u);
  EXPECT_EQ(word(4), kA.Data1);
  EXPECT_EQ(static_cast<BYTE>(raw[8]), 0x22);  // Data2, little-endian
  EXPECT_EQ(static_cast<BYTE>(raw[12]), 1);    // Data4[0]
  EXPECT_EQ(word(20), kB.Data1);
  EXPECT_EQ(word(36), 3u);
  EXPECT_EQ(word(40), entries[0].dwFirst);
  EXPECT_EQ(word(44), entries[0].dwSecond);
  EXPECT_EQ(word(48), entries[0].dwIndex);

  std::vector<ActEntry> loaded;
  ASSERT_TRUE(Load(loaded));
  ASSERT_EQ(loaded.size(), entries.size());
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    EXPECT_EQ(loaded[i].dwFirst, entries[i].dwFirst);
    EXPECT_EQ(loaded[i].dwSecond, entries[i].dwSecond);
    EXPECT_EQ(loaded[i].dwIndex, entries[i].dwIndex);
  }
  // Nothing but the cache is left in the directory, readable by others.
  std::vector<std::string> files = dir.Files();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.vq", "b.vq", "biblion.itt"}));
  struct stat st {};
  ASSERT_EQ(::stat(cache.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ActCacheTest, OtherBasesAreNotTrusted) {
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  std::vector<ActEntry> out;
  EXPECT_FALSE(Load(out, {kB, kA}));  // reordered
  EXPECT_FALSE(Load(out, {kA}));      // one fewer
  EXPECT_FALSE(Load(out, {kA, kB, kA}));
  GUID other = kB;
  other.Data4[7] ^= 1;
  EXPECT_FALSE(Load(out, {kA, other}));  // a base replaced
  EXPECT_TRUE(out.empty());
  std::filesystem::remove(cache);
  EXPECT_FALSE(Load(out));
}

TEST_F(ActCacheTest, ABaseWithTheCachesOwnTimeMakesItStale) {
  // A base written within the same clock tick as the cache may have changed
  // after it: equal times are not trusted, a base older by a second is.
  // Setting a base's time changes its status time to now, which the cache
  // must not precede: the cache's time is set ahead of the clock instead.
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  const auto written = std::filesystem::last_write_time(cache) + std::chrono::seconds(10);
  std::filesystem::last_write_time(cache, written);
  std::vector<ActEntry> out;
  std::filesystem::last_write_time(baseB, written);
  EXPECT_FALSE(Load(out));
  EXPECT_TRUE(out.empty());
  std::filesystem::last_write_time(baseB, written - std::chrono::seconds(1));
  EXPECT_TRUE(Load(out));
  std::filesystem::last_write_time(baseA, written);
  EXPECT_FALSE(Load(out));
}

TEST_F(ActCacheTest, ABaseChangedAfterTheCacheMakesItStale) {
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  std::vector<ActEntry> out;
  ASSERT_TRUE(Load(out));
  std::filesystem::last_write_time(baseB, std::filesystem::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_FALSE(Load(out));
  EXPECT_FALSE(biblion::LoadActCache(cache, {kA, kB}, {baseA, dir.File("gone.vq")}, out));
}

TEST_F(ActCacheTest, TruncatedOrExtendedFilesAreRebuilt) {
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  const std::vector<char> good = ReadAll(cache);
  std::vector<ActEntry> out;
  for (std::size_t n = 0; n < good.size(); ++n) {
    Touch(baseA), Touch(baseB);
    WriteAll(cache, std::vector<char>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_FALSE(Load(out)) << "cut at " << n;
  }
  std::vector<char> longer = good;
  longer.push_back(0);
  Touch(baseA), Touch(baseB);
  WriteAll(cache, longer);
  EXPECT_FALSE(Load(out));
  EXPECT_TRUE(out.empty());
  // The same file whole loads: the cuts above were refused for their length.
  Touch(baseA), Touch(baseB);
  WriteAll(cache, good);
  EXPECT_TRUE(Load(out));
}

TEST_F(ActCacheTest, DamagedHeadersAndEntriesAreRejected) {
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  const std::vector<char> good = ReadAll(cache);
  std::vector<ActEntry> out;
  auto tryWith = [&](std::size_t at, DWORD value) {
    std::vector<char> bad = good;
    for (int k = 0; k < 4; ++k) bad[at + k] = static_cast<char>(value >> (8 * k));
    Touch(baseA), Touch(baseB);
    WriteAll(cache, bad);
    return Load(out);
  };
  EXPECT_FALSE(tryWith(36, 0xFFFFFFFF));  // a huge count is not believed
  EXPECT_FALSE(tryWith(36, 2));
  EXPECT_FALSE(tryWith(0, 0xFFFFFFFF));
  EXPECT_FALSE(tryWith(48, 0x00020000));  // base number 2 of 2 bases
  EXPECT_FALSE(tryWith(40, 0xFFFFFFFF));  // out of table order
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(tryWith(48, 0x0001FFFF));  // any slot of an existing base is fine
}

TEST_F(ActCacheTest, RandomDamageNeverCrashesAndNeverLoadsUnsortedEntries) {
  std::vector<ActEntry> many;
  for (DWORD i = 0; i < 200; ++i) many.push_back({R(0, 90 + i % 10, i % 50, i).dw, R(15, 0, 0, 0).dw, i});
  biblion::CActTable t;
  t.Assign(many);
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, t.Entries()));
  const std::vector<char> good = ReadAll(cache);
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<char> bad = good;
    for (int k = 0; k < 1 + round % 5; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
    if (round % 7 == 0) bad.resize(rng() % bad.size());
    Touch(baseA), Touch(baseB);
    WriteAll(cache, bad);
    std::vector<ActEntry> out;
    if (Load(out)) {
      EXPECT_TRUE(biblion::CActTable::IsInTableOrder(out));
      for (const auto& e : out) EXPECT_LT(e.dwIndex >> 16, 2u);
    }
  }
}

TEST_F(ActCacheTest, UnwritableDirectoryLeavesNothing) {
  EXPECT_FALSE(biblion::WriteActCache(dir.File("missing/biblion.itt"), {kA}, entries));
  if (::geteuid() != 0) {  // root writes anywhere
    std::filesystem::create_directory(dir.File("ro"));
    std::filesystem::permissions(dir.File("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(biblion::WriteActCache(dir.File("ro/biblion.itt"), {kA}, entries));
  }
}

TEST_F(ActCacheTest, RewritingReplacesTheOldCacheWhole) {
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, entries));
  // A reader holding the old file keeps reading the old contents.
  std::ifstream old(cache, std::ios::binary);
  std::vector<ActEntry> one = {entries[0]};
  ASSERT_TRUE(biblion::WriteActCache(cache, {kA, kB}, one));
  std::vector<char> oldBytes((std::istreambuf_iterator<char>(old)), {});
  EXPECT_EQ(oldBytes.size(), 40 + 12 * entries.size());
  std::vector<ActEntry> out;
  ASSERT_TRUE(Load(out));
  EXPECT_EQ(out.size(), 1u);
}

}  // namespace
