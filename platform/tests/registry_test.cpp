#include "platform/registry.h"

#include <dirent.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/message_box.h"
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

// Runs `body` as a user without privileges, so that permission cases hold under
// root too (CI runs as root, and root reads and writes whatever it likes):
// under root in a child process that becomes "nobody" and owns `dir`.
void RunUnprivileged(const std::string& dir, const std::function<void()>& body) {
  if (geteuid() != 0) {
    body();
    return;
  }
  passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::string name = e->d_name; name != "." && name != "..") {
        EXPECT_EQ(chown((dir + "/" + name).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
      }
    }
    closedir(d);
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
    body();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the case failed as an unprivileged user (2: could not become one)";
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
    chmod(dir.c_str(), 0700);
    for (const std::string& name : Listing()) DeleteFileAt(dir + "/" + name);
    rmdir(dir.c_str());
  }
  // Names in the directory, without "." and "..".
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string name = e->d_name; name != "." && name != "..") names.push_back(name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void Write(const std::string& file, const std::string& text) const {
    std::ofstream out(file, std::ios::binary);
    out << text;
  }
  std::string Read() const {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
  RunUnprivileged(dir, [&] {
    chmod(dir.c_str(), 0500);
    EXPECT_FALSE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "a", "new"); }));
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(CRegistry::Load(path).Value(kKey, "a")->text, "old");
  });
}

TEST_F(RegistryFileTest, FileWithoutReadPermissionIsNeverOverwritten) {
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "a", "old"); }));
  RunUnprivileged(dir, [&] {
    chmod(path.c_str(), 0200);
    bool ok = true;
    EXPECT_EQ(CRegistry::Load(path, &ok).CountValues(kKey), 0u);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "b", "new"); }));
    chmod(path.c_str(), 0600);
    CRegistry reg = CRegistry::Load(path);
    EXPECT_EQ(reg.Value(kKey, "a")->text, "old");
    EXPECT_FALSE(reg.Value(kKey, "b"));
  });
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

const std::string kServerKey = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server";

std::vector<std::string> Texts(const std::vector<RegValue>& values) {
  std::vector<std::string> texts;
  for (const auto& v : values) texts.push_back(v.name + "=" + v.text);
  return texts;
}

TEST_F(RegistryFileTest, DamagedKeyLineNeverTakesAValueOfARepeatedKey) {
  // The bases' key appears twice with a damaged key line between: the second
  // base must stay where it is, under its own key line, through a visit count.
  const std::string original =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion]\r\n"
      "\"1\"=\"/b/one.vq\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Publisher\r\n"
      "\"Notice\"=\"n\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion]\r\n"
      "\"2\"=\"/b/two.vq\"\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"
      "\"Counter\"=dword:00000007\r\n";
  Write(path, original);
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetDword(kServerKey, "Counter", 8); }));
  std::string expected = original;
  expected.replace(expected.find("dword:00000007"), 14, "dword:00000008");
  EXPECT_EQ(Read(), expected);
  CRegistry reg = CRegistry::Load(path);
  EXPECT_EQ(Texts(reg.Values(kKey)), (std::vector<std::string>{"1=/b/one.vq", "2=/b/two.vq"}));
  // The lines below the damaged key line belong to no key.
  EXPECT_FALSE(reg.HasKey(kServerKey + "\\Publisher"));
  EXPECT_EQ(reg.CountValues(kServerKey), 1u);
}

TEST_F(RegistryFileTest, NewValueGoesAboveADamagedKeyLine) {
  Write(path,
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"
        "\"Dir\"=\"/srv\"\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Commercials\r\n"
        "\"Commercial1\"=\"a.gif;x\"\r\n");
  for (DWORD visit = 1; visit <= 2; ++visit) {
    ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) {
      auto v = r.Value(kServerKey, "Counter");
      r.SetDword(kServerKey, "Counter", v ? v->dword + 1 : 1);
    }));
    auto counter = CRegistry::Load(path).Value(kServerKey, "Counter");
    ASSERT_TRUE(counter) << "visit " << visit << " wrote a counter nobody reads";
    EXPECT_EQ(counter->dword, visit);
  }
  EXPECT_EQ(Read(),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"
            "\"Dir\"=\"/srv\"\r\n\"Counter\"=dword:00000002\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Commercials\r\n"
            "\"Commercial1\"=\"a.gif;x\"\r\n");
}

TEST_F(RegistryFileTest, WriterChangesOnlyTheLinesOfTheValuesItChanges) {
  // Spellings of the file (upper-case hex, blanks around '=', a repeated name)
  // stay as they are unless their value changes; a repeated name changes on
  // every line, so that the value read is the one written.
  const std::string original =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"
      "\"Counter\"=dword:0000002A\r\n"
      "\"Dir\" = \"/srv\"\r\n"
      "\"counter\"=dword:00000005\r\n";
  Write(path, original);
  EXPECT_EQ(CRegistry::Load(path).Value(kServerKey, "Counter")->dword, 5u);
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kServerKey, "dir", "/srv"); }));
  EXPECT_EQ(Read(), original);
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetDword(kServerKey, "COUNTER", 6); }));
  EXPECT_EQ(Read(),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"
            "\"Counter\"=dword:00000006\r\n"
            "\"Dir\" = \"/srv\"\r\n"
            "\"counter\"=dword:00000006\r\n");
}

TEST_F(RegistryFileTest, ChangeThatWouldNotReadBackIsRefusedAndLogged) {
  const std::string original = "REGEDIT4\r\n\r\n[" + std::string(kKey) + "]\r\n\"1\"=\"/b/one.vq\"\r\n";
  std::vector<std::string> log;
  MessageSink previous = SetMessageSink([&](const std::string& text, const std::string&) { log.push_back(text); });
  const std::vector<std::function<void(CRegistry&)>> changes = {
      [](CRegistry& r) { r.SetString(kKey, "2", "/b/two.vq\r\n\"3\"=\"/b/three.vq"); },
      [](CRegistry& r) { r.SetString(kKey, "a\nb", "x"); },
      [](CRegistry& r) { r.SetString("-HKEY_LOCAL_MACHINE\\Software\\Kolm\\Gone", "x", "y"); },
      [](CRegistry& r) { r.CreateKey("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Bad\r\n\"9\"=\"z\""); },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    Write(path, original);
    errno = 0;
    EXPECT_FALSE(CRegistry::Update(path, changes[i])) << "change " << i;
    EXPECT_EQ(errno, EINVAL) << "change " << i;
    EXPECT_EQ(Read(), original) << "change " << i;
  }
  SetMessageSink(previous);
  ASSERT_EQ(log.size(), changes.size());
  EXPECT_NE(log[0].find(path), std::string::npos);
}

TEST_F(RegistryFileTest, NextWriterRemovesWhatDeadWritersLeft) {
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "1", "/b/one.vq"); }));
  // A writer of this file killed before its rename, one of the earlier naming
  // (an hour old), one of the earlier naming made a moment ago (it may belong
  // to a live writer of another registry file here), another file's writer.
  Write(dir + "/.registry.reg.Ab12Cd", "REGEDIT4\r\n");
  Write(dir + "/.registry.Xy98Zz", "REGEDIT4\r\n");
  Write(dir + "/.registry.Fresh1", "REGEDIT4\r\n");
  Write(dir + "/.other.reg.Qw12Er", "REGEDIT4\r\n");
  Write(dir + "/.registry.reg.Ab12Cd.keep", "not a temporary file");
  timespec times[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir + "/.registry.Xy98Zz").c_str(), times, 0), 0);
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetString(kKey, "2", "/b/two.vq"); }));
  EXPECT_EQ(Listing(), (std::vector<std::string>{".other.reg.Qw12Er", ".registry.Fresh1", ".registry.reg.Ab12Cd.keep",
                                                 "registry.reg", "registry.reg.lock"}));
  EXPECT_EQ(CRegistry::Load(path).CountValues(kKey), 2u);
}

TEST_F(RegistryFileTest, WriterKilledWhileWritingLeavesTheFileWholeAndTheNextOneTidies) {
  // A registry of some megabytes, so that a writer spends long enough between
  // making its temporary file and renaming it to be caught there.
  std::string big = "REGEDIT4\r\n\r\n[" + std::string(kKey) + "]\r\n";
  for (int i = 0; i < 40000; ++i) big += "\"" + std::to_string(i) + "\"=\"" + std::string(100, 'x') + "\"\r\n";
  Write(path, big);
  auto temporaries = [&] {
    std::size_t n = 0;
    for (const auto& name : Listing()) n += name.rfind(".registry.reg.", 0) == 0 && name != "registry.reg.lock";
    return n;
  };
  bool caught = false;
  for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (DWORD n = 0;; ++n) CRegistry::Update(path, [n](CRegistry& r) { r.SetDword(kServerKey, "Counter", n); });
    }
    // Kill the writer as soon as its temporary file appears.
    for (int polls = 0; polls < 200000 && temporaries() == 0; ++polls) usleep(50);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    caught = temporaries() > 0;
  }
  ASSERT_TRUE(caught) << "no writer was caught between its temporary file and the rename";
  CRegistry before = CRegistry::Load(path);
  EXPECT_EQ(before.CountValues(kKey), 40000u);
  ASSERT_TRUE(CRegistry::Update(path, [](CRegistry& r) { r.SetDword(kServerKey, "Counter", 0); }));
  EXPECT_EQ(temporaries(), 0u);
  EXPECT_EQ(CRegistry::Load(path).CountValues(kKey), 40000u);
}

TEST(RegistryPath, FollowsTheEnvironment) {
  setenv("VAMU_REGISTRY", "/tmp/some.reg", 1);
  EXPECT_EQ(CRegistry::DefaultPath(), "/tmp/some.reg");
  unsetenv("VAMU_REGISTRY");
  EXPECT_EQ(CRegistry::DefaultPath(), "/etc/vamu/registry.reg");
}

TEST(RegistryPath, TheHostsChoiceWinsWithoutTouchingTheEnvironment) {
  setenv("VAMU_REGISTRY", "/tmp/from-the-environment.reg", 1);
  CRegistry::UseForThisProcess("/srv/site/registry.reg");
  EXPECT_EQ(CRegistry::DefaultPath(), "/srv/site/registry.reg");
  // Threads and child processes still see the operator's environment.
  EXPECT_STREQ(std::getenv("VAMU_REGISTRY"), "/tmp/from-the-environment.reg");
  CRegistry::UseForThisProcess("");
  EXPECT_EQ(CRegistry::DefaultPath(), "/tmp/from-the-environment.reg");
  unsetenv("VAMU_REGISTRY");
}

}  // namespace
