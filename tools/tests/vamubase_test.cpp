// The base tool as an editor uses it: each command, its messages and exit
// statuses, and a damaged base found by verify.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "kasten/file_server.h"
#include "tools/tests/tool_runner.h"

namespace {

using tool_test::Result;

class VamubaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vamutoolXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    base = dir + "/acts.vq";
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  Result Run(const std::vector<std::string>& args) { return tool_test::Run(VAMUBASE, args, dir); }

  std::string WriteFile(const std::string& name, const std::string& text) {
    std::string p = dir + "/" + name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  std::string dir, base;
};

TEST_F(VamubaseTest, HelpAndUsageErrors) {
  Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("verify"), std::string::npos);
  EXPECT_EQ(Run({}).status, 2);
  Result unknown = Run({"frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);
  Result addHelp = Run({"add", "--help"});
  EXPECT_EQ(addHelp.status, 0);
  EXPECT_NE(addHelp.out.find("--stored"), std::string::npos);
  EXPECT_EQ(Run({"list"}).status, 2);
  EXPECT_EQ(Run({"list", "--bogus", base}).status, 2);
  EXPECT_EQ(Run({"add", "--stored", "--zlib", base, "x"}).status, 2);
}

TEST_F(VamubaseTest, CreateAddListExtract) {
  ASSERT_EQ(Run({"create", base}).status, 0);
  EXPECT_EQ(Run({"create", base}).status, 1);  // never overwrites
  std::string a = WriteFile("D97034.HTM", "<HTML>ustawa \xB3\xF3" "d\x9F</HTML>");
  std::string b = WriteFile("notes.txt", std::string(5000, 'n'));
  Result add = Run({"add", "-v", "--prefix", "DU", base, a});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.out, "0\tDU\\D97034.HTM\n");
  ASSERT_EQ(Run({"add", "--stored", "--name", "N.TXT", base, b}).status, 0);
  Result list = Run({"list", base});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "0\tzlib\t24\t" + std::to_string(CFileServer(base.c_str(), nullptr, 0).GetFileCompSize(0)) +
                          "\tDU\\D97034.HTM\n1\tstored\t5000\t5000\tN.TXT\n");
  Result byName = Run({"extract", base, "D97034.HTM"});
  EXPECT_EQ(byName.status, 0);
  EXPECT_EQ(byName.out, tool_test::Slurp(a));
  EXPECT_EQ(Run({"extract", base, "1"}).out, std::string(5000, 'n'));
  EXPECT_EQ(Run({"extract", "-o", dir + "/copy", base, "N.TXT"}).status, 0);
  EXPECT_EQ(tool_test::Slurp(dir + "/copy"), std::string(5000, 'n'));
  Result missing = Run({"extract", base, "NOPE.HTM"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no such item"), std::string::npos);
}

TEST_F(VamubaseTest, MissingBaseIsNeverCreatedByAccident) {
  std::string f = WriteFile("x.htm", "x");
  Result r = Run({"add", dir + "/typo.vq", f});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no such base"), std::string::npos);
  EXPECT_NE(access((dir + "/typo.vq").c_str(), F_OK), 0);
  EXPECT_EQ(Run({"add", base + ".none", dir + "/nofile"}).status, 1);
}

TEST_F(VamubaseTest, RemoveCompactMerge) {
  ASSERT_EQ(Run({"create", base}).status, 0);
  for (int i = 0; i < 4; ++i) Run({"add", base, WriteFile("F" + std::to_string(i) + ".HTM", "doc " + std::to_string(i))});
  ASSERT_EQ(Run({"remove", base, "F1.HTM"}).status, 0);
  EXPECT_EQ(Run({"remove", base, "F1.HTM"}).status, 1);  // already gone
  EXPECT_NE(Run({"list", "--all", base}).out.find("1\t-\t-\t-\t(empty)\n"), std::string::npos);
  EXPECT_EQ(Run({"list", base}).out.find("(empty)"), std::string::npos);
  // Merging needs compacted bases.
  std::string other = dir + "/other.vq";
  Run({"create", other});
  Run({"add", other, WriteFile("G.HTM", "other doc")});
  Result refused = Run({"merge", dir + "/merged.vq", base, other});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("compacted"), std::string::npos);
  EXPECT_NE(access((dir + "/merged.vq").c_str(), F_OK), 0);
  ASSERT_EQ(Run({"compact", base}).status, 0);
  EXPECT_EQ(access((dir + "/acts.bak").c_str(), F_OK), 0);
  ASSERT_EQ(Run({"compact", other}).status, 0);
  ASSERT_EQ(Run({"merge", dir + "/merged.vq", base, other}).status, 0);
  Result list = Run({"list", dir + "/merged.vq"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("0\tzlib\t5\t"), std::string::npos);
  EXPECT_NE(list.out.find("3\tzlib\t9\t"), std::string::npos);
  EXPECT_NE(list.out.find("G.HTM"), std::string::npos);
  EXPECT_EQ(list.out.find("F1.HTM"), std::string::npos);
  EXPECT_EQ(Run({"verify", dir + "/merged.vq"}).status, 0);
}

TEST_F(VamubaseTest, RemovingAndCompactingKeepTheIndexRight) {
  ASSERT_EQ(Run({"create", base}).status, 0);
  ASSERT_EQ(Run({"add", "--keys", "K1", base, WriteFile("A.HTM", "<HTML>ustawa o podatkach</HTML>")}).status, 0);
  ASSERT_EQ(Run({"add", "--keys", "K2", base, WriteFile("B.HTM", "<HTML>kodeks pracy</HTML>")}).status, 0);
  ASSERT_EQ(Run({"add", "--keys", "K1", base, WriteFile("C.HTM", "<HTML>ustawa o pracy</HTML>")}).status, 0);
  EXPECT_EQ(Run({"query", "-q", base, "ustawa"}).out, "0\tA.HTM\n2\tC.HTM\n");
  ASSERT_EQ(Run({"remove", base, "A.HTM"}).status, 0);
  EXPECT_EQ(Run({"query", "-q", base, "ustawa"}).out, "2\tC.HTM\n");
  ASSERT_EQ(Run({"compact", base}).status, 0);
  // The documents moved down by one; the index and the keys moved with them.
  EXPECT_EQ(Run({"query", "-q", base, "ustawa"}).out, "1\tC.HTM\n");
  EXPECT_EQ(Run({"query", "-q", base, "pracy"}).out, "0\tB.HTM\n1\tC.HTM\n");
  EXPECT_EQ(Run({"keys", "-q", base, "K1"}).out, "1\tC.HTM\n");
  EXPECT_EQ(Run({"verify", base}).status, 0);
}

TEST_F(VamubaseTest, VerifyFindsDamage) {
  ASSERT_EQ(Run({"create", base}).status, 0);
  std::string text;
  for (int i = 0; i < 500; ++i) text += "Art. " + std::to_string(i) + ". Przepis. ";
  Run({"add", base, WriteFile("A.HTM", text)});
  Run({"add", base, WriteFile("B.HTM", text + "B")});
  Result good = Run({"verify", base});
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_NE(good.err.find(" 0 empty, 0 damaged"), std::string::npos) << good.err;
  // Spoil the middle of the first item's stream.
  DWORD record;
  {
    CFileServer fs(base.c_str(), nullptr, 0);
    CFileServer::ItemInfo info;
    ASSERT_TRUE(fs.GetItemInfo(0, info));
    record = info.recordOffset;
  }
  {
    CFile f(base.c_str(), CFile::modeReadWrite);
    f.Seek(record + 8 + 12 + 40, CFile::begin);
    f.Write("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);
  }
  Result bad = Run({"verify", base});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("slot 0: A.HTM"), std::string::npos) << bad.out;
  EXPECT_EQ(bad.out.find("slot 1"), std::string::npos);
  EXPECT_EQ(Run({"verify", WriteFile("garbage.vq", "not a base at all, not even close")}).status, 1);
}

}  // namespace
