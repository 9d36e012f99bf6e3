// The parts of an installation in process: registry entries, resolving the
// copies, paths below the root, the system check and the command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "platform/registry.h"
#include "setup/file_queue.h"
#include "setup/reg_section.h"
#include "setup/setup_options.h"
#include "setup/system_checks.h"

namespace {

using Fields = std::vector<std::string>;

CInfFile Parse(const std::string& body) {
  std::string why;
  auto inf = CInfFile::Parse("[Version]\nSignature=$Chicago$\n" + body, &why);
  EXPECT_TRUE(inf) << why;
  return inf ? std::move(*inf) : CInfFile();
}

std::optional<RegEntry> Reg(const Fields& fields) {
  std::string why;
  auto e = ParseAddReg(fields, &why);
  if (!e) {
    EXPECT_FALSE(why.empty());
  }
  return e;
}

TEST(AddRegEntries, StringsNumbersAndKeys) {
  auto s = Reg({"HKLM", "\\Software\\Kolm\\Vamu Server\\Setup\\", "Dir", "0", "/opt/vamu/site"});
  ASSERT_TRUE(s);
  EXPECT_EQ(s->key, "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup");
  EXPECT_EQ(s->kind, RegEntry::String);
  EXPECT_EQ(s->text, "/opt/vamu/site");
  EXPECT_FALSE(s->keepExisting);

  auto d = Reg({"HKEY_LOCAL_MACHINE", "Software\\Kolm\\Vamu Server", "Counter", "0x00010003", "0xFFFFFFFF"});
  ASSERT_TRUE(d);
  EXPECT_EQ(d->kind, RegEntry::Dword);
  EXPECT_EQ(d->dword, 0xFFFFFFFFu);
  EXPECT_TRUE(d->keepExisting);
  EXPECT_EQ(Reg({"hklm", "K", "N", "65537", "010"})->dword, 10u) << "decimal, no octal";

  auto k = Reg({"HKLM", "Software\\Kolm\\File Server\\TOC", "", "0x10"});
  ASSERT_TRUE(k);
  EXPECT_EQ(k->kind, RegEntry::KeyOnly);
  EXPECT_EQ(Reg({"HKLM", "K", "N"})->kind, RegEntry::String) << "missing flags are a string";
}

TEST(AddRegEntries, WhatTheRegistryFileCannotHoldIsRefused) {
  EXPECT_FALSE(Reg({"HKCU", "Software\\X", "N", "0", "v"}));
  EXPECT_FALSE(Reg({"HKLM", "", "N", "0", "v"}));
  EXPECT_FALSE(Reg({"HKLM", "Software\\[X]", "N", "0", "v"}));
  EXPECT_FALSE(Reg({"HKLM", "Software\\\\X", "N", "0", "v"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "0", "two\nlines"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N\r", "0", "v"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "0x00010001", "0x100000000"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "0x00010001", "-1"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "0x00010001", "12abc"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "1", "binary"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "0x00020000", "%expand%"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "0x4", "delete"}));
  EXPECT_FALSE(Reg({"HKLM", "K", "N", "zero", "v"}));
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = TempDirectory() + "/vamu-setup-unit-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

using AddRegInstall = TempDir;

TEST_F(AddRegInstall, AllEntriesOfAllSectionsInOneFile) {
  CInfFile inf = Parse(
      "[Install]\nAddReg = R1, R2\n"
      "[R1]\nHKLM, \"Software\\Kolm\\File Server\\biblion\", \"1\", 0, \"/b/acts.vq\"\n"
      "[R2]\nHKLM, \"Software\\Kolm\\File Server\\biblion\", \"2\", 0, \"/b/more.vq\"\n");
  std::string file = dir_ + "/etc/vamu/registry.reg";
  std::vector<std::string> problems;
  ASSERT_TRUE(InstallAddReg(inf, "Install", file, [&](const std::string& p) { problems.push_back(p); }));
  auto values = CRegistry::Load(file).Values("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].text, "/b/acts.vq");
  EXPECT_EQ(values[1].text, "/b/more.vq");
  EXPECT_TRUE(problems.empty());
}

TEST_F(AddRegInstall, MissingSectionOrKeyLineWritesNothing) {
  std::string file = dir_ + "/registry.reg";
  for (const std::string body :
       {"[Install]\nAddReg = Good, Missing\n[Good]\nHKLM, K, N, 0, v\n", "[Install]\nAddReg = Bad\n[Bad]\nName = v\n"}) {
    std::vector<std::string> problems;
    EXPECT_FALSE(InstallAddReg(Parse(body), "Install", file, [&](const std::string& p) { problems.push_back(p); }));
    EXPECT_EQ(problems.size(), 1u) << body;
    EXPECT_FALSE(std::filesystem::exists(file)) << body;
  }
}

TEST(InstallPaths, BelowTheRoot) {
  EXPECT_TRUE(PathBelowRoot("/opt/vamu/lib/x.so", "/"));
  EXPECT_TRUE(PathBelowRoot("/tmp/r/opt/x", "/tmp/r"));
  EXPECT_FALSE(PathBelowRoot("/tmp/r", "/tmp/r"));
  EXPECT_FALSE(PathBelowRoot("/tmp/rx/opt", "/tmp/r"));
  EXPECT_FALSE(PathBelowRoot("/tmp/r/../etc/passwd", "/tmp/r"));
  EXPECT_FALSE(PathBelowRoot("/tmp/r/./x", "/tmp/r"));
  EXPECT_FALSE(PathBelowRoot("/tmp/r//x", "/tmp/r"));
  EXPECT_FALSE(PathBelowRoot("opt/vamu", "/"));
  EXPECT_FALSE(PathBelowRoot("/", "/"));

  EXPECT_TRUE(IsPlainRelativePath("site/img/logo.gif"));
  for (const char* bad : {"", "/etc/passwd", "../x", "a/../../x", "a//b", "a/", "./a"})
    EXPECT_FALSE(IsPlainRelativePath(bad)) << bad;
}

using CopyQueue = TempDir;

TEST_F(CopyQueue, EntriesResolveThroughSourceAndDestinationDirs) {
  CInfFile inf = Parse(
      "[Install]\nCopyFiles = Lib, @README\n"
      "[DestinationDirs]\nLib = %24%/opt/vamu, lib\nDefaultDestDir = %24%/opt/vamu/doc\n"
      "[SourceDirs]\nLib = built\n"
      "[Lib]\nlibkasten.so\nlibold.so, libnew.so\n");
  inf.Define("24", "/r");
  InstallTarget target{"/dist", "/r", ""};
  CFileQueue queue;
  ASSERT_TRUE(queue.QueueSection(inf, "Install", target, [](const std::string& p) { ADD_FAILURE() << p; }));
  ASSERT_EQ(queue.Copies().size(), 3u);
  EXPECT_EQ(queue.Copies()[0].source, "/dist/built/libkasten.so");
  EXPECT_EQ(queue.Copies()[0].target, "/r/opt/vamu/lib/libkasten.so");
  EXPECT_EQ(queue.Copies()[1].source, "/dist/built/libnew.so");
  EXPECT_EQ(queue.Copies()[1].target, "/r/opt/vamu/lib/libold.so");
  EXPECT_EQ(queue.Copies()[2].source, "/dist/README");
  EXPECT_EQ(queue.Copies()[2].target, "/r/opt/vamu/doc/README");
}

TEST_F(CopyQueue, UnresolvableEntriesAreReportedTheOthersQueued) {
  CInfFile inf = Parse(
      "[Install]\nCopyFiles = Lib, NoDest, Outside, Absent\n"
      "[DestinationDirs]\nLib = /r/lib\nOutside = /etc\n"
      "[Lib]\ngood.so\n../../etc/passwd\ngood2.so, /etc/shadow\n"
      "[NoDest]\nx\n[Outside]\ny\n");
  InstallTarget target{"/dist", "/r", ""};
  CFileQueue queue;
  std::vector<std::string> problems;
  EXPECT_FALSE(queue.QueueSection(inf, "Install", target, [&](const std::string& p) { problems.push_back(p); }));
  ASSERT_EQ(queue.Copies().size(), 1u);
  EXPECT_EQ(queue.Copies()[0].target, "/r/lib/good.so");
  EXPECT_EQ(problems.size(), 5u);

  CFileQueue none;
  EXPECT_FALSE(none.QueueSection(inf, "FullInstall", target, [&](const std::string&) {}));
}

TEST_F(CopyQueue, CommitCopiesModeAndTimeOfTheSource) {
  std::string src = dir_ + "/src/tool";
  std::filesystem::create_directories(dir_ + "/src");
  std::ofstream(src) << "#!/bin/sh\n";
  std::filesystem::permissions(src, std::filesystem::perms(0750));
  CInfFile inf = Parse("[Install]\nCopyFiles = Bin\n[DestinationDirs]\nBin = " + dir_ + "/root/bin\n[SourceDirs]\nBin = src\n[Bin]\ntool\n");
  InstallTarget target{dir_, dir_ + "/root", ""};
  CFileQueue queue;
  ASSERT_TRUE(queue.QueueSection(inf, "Install", target, [](const std::string& p) { ADD_FAILURE() << p; }));
  CopyCounts counts;
  ASSERT_TRUE(queue.Commit([](const std::string& p) { ADD_FAILURE() << p; }, &counts));
  EXPECT_EQ(counts.copied, 1);
  std::string dst = dir_ + "/root/bin/tool";
  EXPECT_EQ(std::filesystem::status(dst).permissions(), std::filesystem::perms(0750));
  EXPECT_EQ(std::filesystem::last_write_time(dst), std::filesystem::last_write_time(src));
  ASSERT_TRUE(queue.Commit([](const std::string& p) { ADD_FAILURE() << p; }, &counts));
  EXPECT_EQ(counts.copied, 0);
  EXPECT_EQ(counts.kept, 1);
}

TEST_F(CopyQueue, SectionWithoutFilesMakesItsDirectory) {
  CInfFile inf = Parse(
      "[Install]\nCopyFiles = State, Elsewhere\n"
      "[DestinationDirs]\nState = %24%/var/cache/vamu\nElsewhere = /var/cache/other\n"
      "[State]\n[Elsewhere]\n");
  inf.Define("24", dir_ + "/root");
  InstallTarget target{dir_, dir_ + "/root", ""};
  CFileQueue queue;
  std::vector<std::string> problems;
  EXPECT_FALSE(queue.QueueSection(inf, "Install", target, [&](const std::string& p) { problems.push_back(p); }));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("/var/cache/other is not below the installation root"), std::string::npos);
  EXPECT_TRUE(queue.Copies().empty());
  CopyCounts counts;
  ASSERT_TRUE(queue.Commit([](const std::string& p) { ADD_FAILURE() << p; }, &counts));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/root/var/cache/vamu"));
  EXPECT_FALSE(std::filesystem::exists("/var/cache/other"));
  // A file where the directory should be is reported.
  std::filesystem::remove(dir_ + "/root/var/cache/vamu");
  std::ofstream(dir_ + "/root/var/cache/vamu") << "x";
  problems.clear();
  EXPECT_FALSE(queue.Commit([&](const std::string& p) { problems.push_back(p); }, &counts));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("cannot make the directory " + dir_ + "/root/var/cache/vamu", 0), 0u) << problems[0];
}

TEST(SystemCheck, LinuxFrom310) {
  EXPECT_TRUE(IsSupportedSystem("Linux", "6.1.0-18-amd64"));
  EXPECT_TRUE(IsSupportedSystem("Linux", "3.10.0-1160.el7.x86_64"));
  EXPECT_TRUE(IsSupportedSystem("Linux", "4"));
  EXPECT_FALSE(IsSupportedSystem("Linux", "3.9.11"));
  EXPECT_FALSE(IsSupportedSystem("Linux", "2.6.32-754"));
  EXPECT_FALSE(IsSupportedSystem("Linux", ""));
  EXPECT_FALSE(IsSupportedSystem("Linux", "x.y"));
  EXPECT_FALSE(IsSupportedSystem("Linux", "99999999999999999999.1"));
  EXPECT_FALSE(IsSupportedSystem("FreeBSD", "14.0-RELEASE"));
  EXPECT_TRUE(RunningOnSupportedSystem());
}

TEST(SetupCommandLine, AnswersRootAndRestartCommands) {
  std::string why;
  auto o = ParseSetupOptions({"--full", "--no-restart", "--root=/tmp/r//", "--restart-command", "a b",
                              "--restart-command=c", "--registry", "/x.reg"},
                             &why);
  ASSERT_TRUE(o) << why;
  EXPECT_EQ(o->copyTexts, Answer::Yes);
  EXPECT_EQ(o->restart, Answer::No);
  EXPECT_EQ(o->root, "/tmp/r");
  EXPECT_EQ(o->restartCommands, (std::vector<std::string>{"a b", "c"}));
  EXPECT_EQ(o->registryFile, "/x.reg");

  auto relative = ParseSetupOptions({"--root", "sub/dir"}, &why);
  ASSERT_TRUE(relative);
  EXPECT_EQ(relative->root, (std::filesystem::current_path() / "sub/dir").string());
  EXPECT_EQ(ParseSetupOptions({}, &why)->root, "/");
  EXPECT_FALSE(ParseSetupOptions({}, &why)->copyTexts);

  EXPECT_FALSE(ParseSetupOptions({"--default", "--full"}, &why));
  EXPECT_FALSE(ParseSetupOptions({"--restart", "--no-restart"}, &why));
  EXPECT_FALSE(ParseSetupOptions({"--root"}, &why));
  EXPECT_FALSE(ParseSetupOptions({"--root="}, &why));
  EXPECT_FALSE(ParseSetupOptions({"--full=yes"}, &why));
  EXPECT_FALSE(ParseSetupOptions({"install"}, &why));
}

}  // namespace
