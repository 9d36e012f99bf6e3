#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"

namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion";

TEST(Registry, ReadsValuesInFileOrder) {
  auto reg = CRegistry::Parse(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion]\r\n"
      "\"zeta\"=\"/b/zeta.vq\"\r\n"
      "\"alpha\"=\"/b/alpha.vq\"\r\n"
      "\"mid\"=\"/b/mid.vq\"\r\n");
  auto values = reg.Values(kKey);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].text, "/b/zeta.vq");
  EXPECT_EQ(values[1].text, "/b/alpha.vq");
  EXPECT_EQ(values[2].text, "/b/mid.vq");
  EXPECT_EQ(reg.CountValues(kKey), 3u);
}

TEST(Registry, KeysAndNamesIgnoreCase) {
  auto reg = CRegistry::Parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup]\n\"Dir\"=\"/srv/site\"\n");
  auto v = reg.Value("hkey_local_machine\\SOFTWARE\\kolm\\vamu server\\setup", "dir");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->text, "/srv/site");
  EXPECT_TRUE(reg.HasKey("HKEY_LOCAL_MACHINE\\Software\\Kolm"));
  EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\Software\\Ko"));
  EXPECT_FALSE(reg.Value("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup", "Missing"));
}

TEST(Registry, EscapesDwordsAndDamagedLines) {
  auto reg = CRegistry::Parse(
      "REGEDIT4\n"
      "\"orphan\"=\"before any key\"\n"
      "[K]\n"
      "\"path\"=\"C:\\\\dir\\\\file \\\"q\\\"\"\n"
      "\"Counter\"=dword:0000002a\n"
      "\"broken\"=dword:zz\n"
      "\"unterminated\"=\"abc\n"
      "garbage line\n"
      "\"bin\"=hex:01,02\n"
      "; comment\n"
      "[-K2]\n\"gone\"=\"x\"\n");
  auto values = reg.Values("K");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].text, "C:\\dir\\file \"q\"");
  EXPECT_EQ(values[1].type, RegValue::Dword);
  EXPECT_EQ(values[1].dword, 42u);
  EXPECT_FALSE(reg.HasKey("K2"));
}

TEST(Registry, SerializeParsesBackTheSame) {
  CRegistry reg;
  reg.SetString(kKey, "1", "/b/\"odd\\name\".vq");
  reg.SetDword("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server", "Counter", 0xFFFFFFFF);
  reg.SetString(kKey, "2", "\xB3\xF3" "d\x9F");  // windows-1250 bytes pass unchanged
  auto back = CRegistry::Parse(reg.Serialize());
  auto values = back.Values(kKey);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].text, "/b/\"odd\\name\".vq");
  EXPECT_EQ(values[1].text, "\xB3\xF3" "d\x9F");
  EXPECT_EQ(back.Value("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server", "counter")->dword, 0xFFFFFFFFu);
}

class RegistryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vamuregXXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
    path = dir + "/registry.reg";
  }
  void TearDown() override {
    DeleteFileAt(path);
    DeleteFileAt(path + ".lock");
    rmdir(dir.c_str());
  }
  std::string dir, path;
};

TEST_F(RegistryFileTest, MissingFileIsEmptyAndUpdateCreatesIt) {
  bool ok = false;
  EXPECT_EQ(CRegistry::Load(path, &ok).CountValues(kKey), 0u);
  EXPECT_TRUE(ok);
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "a", "/x.vq"); }));
  EXPECT_EQ(CRegistry::Load(path).Value(kKey, "a")->text, "/x.vq");
}

TEST_F(RegistryFileTest, ConcurrentIncrementsAreNotLost) {
  const std::string counterKey = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server";
  auto increment = [&] {
    return CRegistry::Update(path, [&](CRegistry& r) {
      auto v = r.Value(counterKey, "Counter");
      r.SetDword(counterKey, "Counter", (v ? v->dword : 0) + 1);
    });
  };
  // Two processes and several threads each, as several server processes would.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) increment();
    });
  for (auto& t : threads) t.join();
  if (pid == 0) _exit(0);
  int status;
  waitpid(pid, &status, 0);
  EXPECT_EQ(CRegistry::Load(path).Value(counterKey, "Counter")->dword, 200u);
}

TEST_F(RegistryFileTest, UpdateKeepsWhatItDoesNotReadInItsPlace) {
  const std::string original =
      "REGEDIT4\r\n; installed by setup\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"
      "\"Binary\"=hex:01,02,\\\r\n  03\r\n"
      "; the visits\r\n"
      "\"Counter\"=dword:00000001\r\n"
      "\"Multi\"=hex(7):41,00,00\r\n"
      "\r\n[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n\"x\"=\"y\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Broken\r\n\"z\"=\"w\"\r\n";
  {
    std::ofstream out(path, std::ios::binary);
    out << original;
  }
  const std::string counterKey = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server";
  ASSERT_TRUE(CRegistry::Update(path, [&](CRegistry& r) { r.SetDword(counterKey, "Counter", 2); }));
  std::ifstream in(path, std::ios::binary);
  std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string expected = original;
  expected.replace(expected.find("dword:00000001"), 14, "dword:00000002");
  EXPECT_EQ(now, expected);
  // What is kept is never read as a value.
  CRegistry reg = CRegistry::Load(path);
  EXPECT_EQ(reg.CountValues(counterKey), 1u);
  EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\Software\\Old"));
  EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\Software\\Broken"));
}

TEST_F(RegistryFileTest, FailedWriteLeavesTheFileAsItWas) {
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "a", "old"); }));
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  chmod(dir.c_str(), 0500);
  EXPECT_FALSE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "a", "new"); }));
  chmod(dir.c_str(), 0700);
  EXPECT_EQ(CRegistry::Load(path).Value(kKey, "a")->text, "old");
}

TEST_F(RegistryFileTest, UnreadableFileIsNeverOverwritten) {
  // A registry that cannot be read must not be replaced by one holding only the change.
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  EXPECT_FALSE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "a", "new"); }));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  rmdir(path.c_str());
}

TEST(RegistryPath, FollowsTheEnvironment) {
  setenv("VAMU_REGISTRY", "/tmp/some.reg", 1);
  EXPECT_EQ(CRegistry::DefaultPath(), "/tmp/some.reg");
  unsetenv("VAMU_REGISTRY");
  EXPECT_EQ(CRegistry::DefaultPath(), "/etc/vamu/registry.reg");
}

}  // namespace
