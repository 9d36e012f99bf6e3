// The base tool as an editor uses it: each command, its messages and exit
// statuses, and a damaged base found by verify.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

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

// The editor's accident of the field: `vamubase add` killed in the middle
// of a run. The base is recognised, the next writer repairs it, verify passes
// and every document the killed run reported added is found by name.
TEST_F(VamubaseTest, AddKilledMidRunIsRepairedByTheNextWriter) {
  ASSERT_EQ(Run({"create", base}).status, 0);
  ASSERT_EQ(Run({"add", base, WriteFile("FIRST.HTM", "<HTML>pierwszy</HTML>")}).status, 0);
  std::vector<std::string> args = {VAMUBASE, "add", "-v", base};
  for (int i = 0; i < 400; ++i) {
    std::string text = "<HTML><P>Art. " + std::to_string(i) + ". ";
    for (int k = 0; k < 200; ++k) text += "przepis " + std::to_string(i * k) + " ";
    args.push_back(WriteFile("D" + std::to_string(1000 + i) + ".HTM", text + "</HTML>"));
  }
  const std::string progress = dir + "/progress";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int out = open(progress.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(VAMUBASE, argv.data());
    _exit(127);
  }
  // Kill it once it has added a few documents, while its write mark is set.
  auto lines = [&] {
    std::string text = tool_test::Slurp(progress);
    return std::count(text.begin(), text.end(), '\n');
  };
  auto marked = [&] { return tool_test::Slurp(base).substr(32, 4) == "WRIT"; };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(lines() >= 20 && marked()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";
  std::istringstream reported(tool_test::Slurp(progress));
  std::vector<std::string> added;
  for (std::string line; std::getline(reported, line);) added.push_back(line.substr(line.find('\t') + 1));
  ASSERT_GE(added.size(), 20u);
  ASSERT_LT(added.size(), 400u);

  Result before = Run({"verify", base});
  EXPECT_EQ(before.status, 1);
  EXPECT_NE(before.out.find("did not finish"), std::string::npos) << before.out;
  Result next = Run({"add", base, WriteFile("LAST.HTM", "<HTML>ostatni</HTML>")});
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_NE(next.err.find(base + ": the last write to this base did not finish"), std::string::npos) << next.err;
  Result after = Run({"verify", base});
  EXPECT_EQ(after.status, 0) << after.out << after.err;
  for (const std::string& name : added) {
    Result got = Run({"extract", base, name});
    ASSERT_EQ(got.status, 0) << name << ": " << got.err;
    EXPECT_EQ(got.out, tool_test::Slurp(dir + "/" + name)) << name;
  }
  EXPECT_EQ(Run({"extract", base, "FIRST.HTM"}).out, "<HTML>pierwszy</HTML>");
  EXPECT_EQ(Run({"extract", base, "LAST.HTM"}).out, "<HTML>ostatni</HTML>");
}

TEST_F(VamubaseTest, AddRefusesADamagedBase) {
  ASSERT_EQ(Run({"create", base}).status, 0);
  for (const char* n : {"A.HTM", "B.HTM", "C.HTM"}) ASSERT_EQ(Run({"add", base, WriteFile(n, n)}).status, 0);
  ASSERT_EQ(Run({"compact", base}).status, 0);
  // The slot words of items 0 and 1 swapped: every record is whole, but the
  // name table sends each name to the other's slot.
  std::string bytes = tool_test::Slurp(base);
  for (int i = 0; i < 4; ++i) std::swap(bytes[40 + i], bytes[44 + i]);
  std::ofstream(base, std::ios::binary | std::ios::trunc) << bytes;
  Result add = Run({"add", base, WriteFile("D.HTM", "d")});
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find(base + ": the base is damaged"), std::string::npos) << add.err;
  EXPECT_NE(add.err.find("slot 0: B.HTM: its name table entry holds hash"), std::string::npos) << add.err;
  EXPECT_EQ(tool_test::Slurp(base), bytes);  // nothing written
  EXPECT_EQ(Run({"verify", base}).status, 1);
}

}  // namespace
