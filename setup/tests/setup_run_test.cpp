// The setup program run as a program: into a temporary root, from a
// distribution directory made by the fixture, with the real information file.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup/config_files.h"
#include "setup/tests/setup_fixture.h"

namespace setup_test {
namespace {

constexpr char kIncomplete[] = "Instalacja nie jest kompletna!";
constexpr char kFinished[] = "Zakończono instalację serwera aktów normatywnych Vamu Qad'98";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using Install = SetupRun;

TEST_F(Install, DefaultInstallCopiesProgramsLibrariesAndSiteButNotTheBases) {
  RunResult r = Run({"--default", "--no-restart"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* f : {"/opt/vamu/lib/libportico.so", "/opt/vamu/lib/libvamuplatform.so", "/opt/vamu/bin/vamufcgi",
                        "/opt/vamu/bin/vamuserver", "/opt/vamu/site/Search.htm", "/opt/vamu/site/default.htm"})
    EXPECT_TRUE(Exists(R(f))) << f;
  EXPECT_EQ(Slurp(R("/opt/vamu/lib/libkasten.so")), Slurp(D("lib/libkasten.so")));
  EXPECT_FALSE(Exists(R("/opt/vamu/bases")));

  std::string reg = RegistryText();
  EXPECT_TRUE(Has(reg, "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup]\r\n\"Dir\"=\"" + R("/opt/vamu/site") + "\""))
      << reg;
  // Without the act texts the catalogues read the bases where the distribution holds them.
  EXPECT_TRUE(Has(reg, "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion]\r\n\"1\"=\"" + D("bases/acts.vq")))
      << reg;
  EXPECT_TRUE(Has(reg, "\"2\"=\"" + D("bases/rulings.vq")));
  EXPECT_TRUE(Has(reg, "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\TOC]\r\n\"1\"=\"" + D("bases/spis.vq")));
  // The information file's texts are windows-1250, and so is the registry.
  EXPECT_TRUE(Has(reg, "\"Commercial2\"=\"reklama2.gif;Orzeczenia przy artyku\xb3" "ach\"")) << reg;
}

TEST_F(Install, FullInstallCopiesTheBasesAndRegistersTheCopies) {
  RunResult r = Run({"--full", "--no-restart"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Slurp(R("/opt/vamu/bases/acts.vq")), Slurp(D("bases/acts.vq")));
  EXPECT_TRUE(Has(RegistryText(), "\"1\"=\"" + R("/opt/vamu/bases/acts.vq") + "\""));
  EXPECT_FALSE(Has(RegistryText(), D("bases")));
}

TEST_F(Install, NginxSiteAndServiceUnitPointIntoTheInstallation) {
  ASSERT_EQ(Run({"--default", "--no-restart"}).status, 0);
  std::string site = Slurp(R("/etc/nginx/sites-available/vamu.conf"));
  EXPECT_EQ(site.rfind(kSetupMark, 0), 0u);
  EXPECT_TRUE(Has(site, "root " + R("/opt/vamu/site") + ";")) << site;
  EXPECT_TRUE(Has(site, "server unix:" + R("/run/vamu/vamufcgi.sock") + ";"));
  EXPECT_FALSE(Has(site, "fastcgi_keep_conn on;")) << "each host thread serves one connection: none kept idle";
  EXPECT_FALSE(Has(site, "%")) << "a key was left unsubstituted";
  EXPECT_EQ(std::filesystem::read_symlink(R("/etc/nginx/sites-enabled/vamu.conf")).string(),
            R("/etc/nginx/sites-available/vamu.conf"));

  std::string unit = Slurp(R("/etc/systemd/system/vamufcgi.service"));
  EXPECT_TRUE(Has(unit, "ExecStart=\"" + R("/opt/vamu/bin/vamufcgi") + "\" --socket \"" +
                            R("/run/vamu/vamufcgi.sock") + "\" --registry \"" + R("/etc/vamu/registry.reg") + "\""))
      << unit;
  EXPECT_FALSE(Has(unit, "%"));
  // The visit counter rewrites the registry file: its directory and lock file are the service group's.
  EXPECT_TRUE(Has(unit, "vamufcgi-registry \"" + R("/etc/vamu/registry.reg") + "\" \"www-data\"")) << unit;
  EXPECT_TRUE(Exists(R("/etc/systemd/system/multi-user.target.wants/vamufcgi.service")));
}

TEST_F(Install, QuestionsAreAnsweredOnTheTerminal) {
  // Empty line: the default, No - no act texts. Then Yes to the restart.
  RunResult r = Run({"--restart-command", "touch " + tmp_ + "/restarted"}, "\n\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Exists(R("/opt/vamu/bases/acts.vq")));
  EXPECT_TRUE(Exists(tmp_ + "/restarted")) << "the closing question defaults to Yes";

  // Junk is asked again; "t" is Yes, "nie" is No.
  r = Run({"--restart-command", "touch " + tmp_ + "/again"}, "maybe\nt\nnie\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Exists(R("/opt/vamu/bases/acts.vq")));
  EXPECT_FALSE(Exists(tmp_ + "/again"));
}

TEST_F(Install, CancelInstallsNothing) {
  for (const std::string input : {"a\n", "ANULUJ\n", ""}) {  // "" : no terminal to answer
    RunResult r = Run({"--no-restart"}, input);
    EXPECT_EQ(r.status, 3) << input << r.out << r.err;
    EXPECT_FALSE(Exists(R("/opt"))) << input;
    EXPECT_FALSE(Exists(R("/etc/vamu"))) << input;
    EXPECT_FALSE(Has(r.out, kFinished));
  }
}

TEST_F(Install, RestartRunsTheCommandsAndNamesTheOnesThatFail) {
  RunResult r = Run({"--default", "--restart", "--restart-command", "exit 3", "--restart-command",
                     "touch " + tmp_ + "/second"});
  EXPECT_EQ(r.status, 0) << "the installation is complete even if a restart fails";
  EXPECT_TRUE(Has(r.out, "\nexit 3\n")) << r.out;
  EXPECT_TRUE(Exists(tmp_ + "/second")) << "a failed step does not stop the next";

  // Below a root the services of the system are left alone.
  r = Run({"--default", "--restart"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Has(r.out, "restart skipped")) << r.out;
}

TEST_F(Install, MessagesAreShownInTheTerminalsCharacterSet) {
  RunResult utf8 = Run({"--default", "--no-restart"}, "", "C.UTF-8");
  // The bases of this distribution are a few bytes.
  EXPECT_TRUE(Has(utf8.out, "Czy kopiować także teksty aktów (1 kB)?")) << utf8.out;
  EXPECT_TRUE(Has(utf8.out, "Przy starszych komputerach może to potrwać\nkilka minut"));

  RunResult ascii = Run({"--default", "--no-restart"}, "", "C");
  EXPECT_EQ(ascii.status, 0);
  for (char c : ascii.out) ASSERT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << ascii.out;
  EXPECT_TRUE(Has(ascii.out, "Czy kopiowa")) << ascii.out;
}

TEST_F(Install, CopyQuestionNamesTheSizeOfTheTextsInTheDistribution) {
  // The files only the full installation copies: 3 MB + 1 MB + 512 kB.
  WriteText(D("bases/acts.vq"), std::string(3 << 20, 'a'));
  WriteText(D("bases/rulings.vq"), std::string(1 << 20, 'r'));
  WriteText(D("bases/spis.vq"), std::string(512 << 10, 's'));
  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_TRUE(Has(r.out, "Czy kopiować także teksty aktów (4,5 MB)?")) << r.out;
  // Without them the question names no size.
  for (const char* base : {"bases/acts.vq", "bases/rulings.vq", "bases/spis.vq"}) std::filesystem::remove(D(base));
  r = Run({"--default", "--no-restart"});
  EXPECT_TRUE(Has(r.out, "Czy kopiować także teksty aktów?\n")) << r.out;
}

using Checks = SetupRun;

TEST_F(Checks, NoWebServiceStopsBeforeLookingForTheInformationFile) {
  std::filesystem::remove_all(R("/etc/nginx"));
  std::filesystem::remove(D("VamuQad.inf"));
  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, "Musisz najpierw zainstalować serwis WWW (nginx).\nWięcej szczegółów w pliku README.md")) << r.out;
  EXPECT_FALSE(Has(r.out, "VamuQad.inf"));
  EXPECT_FALSE(Exists(R("/opt")));
}

TEST_F(Checks, MissingOrDamagedInformationFileStops) {
  const std::string message = "Instalacja Vamu Qad'98 BETA 3\nNie można znaleźć pliku " + D("VamuQad.inf") +
                              "\nInstalacja zakończona niepomyślnie";
  std::filesystem::remove(D("VamuQad.inf"));
  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, message)) << r.out;

  for (const std::string& damaged : {std::string("[Version]\nSignature=\"$Unknown$\"\n"), std::string("CopyFiles = X\n[Version]\n"),
                                    std::string("\0\xff[\x01", 4)}) {
    WriteText(D("VamuQad.inf"), damaged);
    r = Run({"--default", "--no-restart"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, message)) << r.out;
    EXPECT_FALSE(Exists(R("/opt")));
  }
}

TEST_F(Checks, BadCommandLine) {
  EXPECT_EQ(RunPlain({"--frobnicate"}).status, 2);
  EXPECT_EQ(RunPlain({"--full", "--default"}).status, 2);
  EXPECT_EQ(RunPlain({"--root"}).status, 2);
  RunResult help = RunPlain({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "--root DIR"));
}

using Failures = SetupRun;

TEST_F(Failures, FailedCopyIsReportedTheRestInstalledAndTheRunGoesOn) {
  std::filesystem::remove(D("site/Notes.htm"));
  RunResult r = Run({"--default", "--restart", "--restart-command", "touch " + tmp_ + "/restarted"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, "Setup Vamu Qad'98 BETA 3\n" + std::string(kIncomplete))) << r.out;
  EXPECT_TRUE(Has(r.err, D("site/Notes.htm"))) << r.err;
  EXPECT_TRUE(Exists(R("/opt/vamu/site/Home.htm")));
  EXPECT_TRUE(Has(RegistryText(), "\"Dir\""));
  // A failed copy does not stop the closing question and the restart.
  EXPECT_TRUE(Has(r.out, kFinished));
  EXPECT_TRUE(Exists(tmp_ + "/restarted"));
}

TEST_F(Failures, CopyThatCannotWriteLeavesNoPartialFile) {
  // The library directory is taken by a file: nothing can be written there.
  WriteText(R("/opt/vamu/lib"), "in the way");
  // An older file present stays whole when its replacement fails to arrive.
  WriteText(R("/opt/vamu/bin/vamubase"), "old vamubase");
  SetAge(R("/opt/vamu/bin/vamubase"), -7200);
  std::filesystem::remove(D("bin/vamubase"));
  std::filesystem::create_directory(D("bin/vamubase"));  // a source that is no file

  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, kIncomplete));
  EXPECT_EQ(Slurp(R("/opt/vamu/lib")), "in the way");
  EXPECT_EQ(Slurp(R("/opt/vamu/bin/vamubase")), "old vamubase");
  for (const auto& [path, entry] : Snapshot(R("/opt")))
    EXPECT_FALSE(Has(path, ".vamu-setup.")) << "temporary file left: " << path;
}

TEST_F(Failures, RegistryWriteFailureStopsBeforeTheClosingQuestion) {
  WriteText(R("/etc/vamu"), "not a directory");
  RunResult r = Run({"--default", "--restart", "--restart-command", "touch " + tmp_ + "/restarted"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, kIncomplete)) << r.out;
  EXPECT_TRUE(Has(r.err, "registry")) << r.err;
  EXPECT_FALSE(Has(r.out, kFinished));
  EXPECT_FALSE(Exists(tmp_ + "/restarted"));
}

TEST_F(Failures, RegistryIsWrittenWholeOrNotAtAll) {
  const std::string before = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n\"Counter\"=dword:00000007\r\n";
  WriteText(R("/etc/vamu/registry.reg"), before);
  // A registry entry the file cannot hold, after good ones.
  std::string inf = Slurp(D("VamuQad.inf"));
  inf.replace(inf.find("[Vamu.Reg.SourceBases]\n"), 23, "[Vamu.Reg.SourceBases]\nHKCU, \"Software\\X\", \"Y\", 0, \"z\"\n");
  WriteText(D("VamuQad.inf"), inf);
  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(RegistryText(), before);
  EXPECT_TRUE(Has(r.err, "HKCU")) << r.err;
}

TEST_F(Failures, NginxFileSetupDidNotWriteIsLeftAlone) {
  const std::string theirs = "server { listen 80; }\n";
  WriteText(R("/etc/nginx/sites-available/vamu.conf"), theirs);
  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.out, kIncomplete));
  EXPECT_EQ(Slurp(R("/etc/nginx/sites-available/vamu.conf")), theirs);
  EXPECT_FALSE(Exists(R("/etc/nginx/sites-enabled/vamu.conf")));

  // A link of someone else's in sites-enabled is left alone as well.
  std::filesystem::remove(R("/etc/nginx/sites-available/vamu.conf"));
  std::filesystem::create_directories(R("/etc/nginx/sites-enabled"));
  std::filesystem::create_symlink("/elsewhere.conf", R("/etc/nginx/sites-enabled/vamu.conf"));
  r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::filesystem::read_symlink(R("/etc/nginx/sites-enabled/vamu.conf")).string(), "/elsewhere.conf");
  EXPECT_FALSE(Exists(R("/etc/nginx/sites-available/vamu.conf"))) << "a refused section writes nothing";
}

TEST_F(Failures, MissingTemplateFailsOnlyItsOwnFile) {
  std::filesystem::remove(D("config/vamufcgi.service"));
  RunResult r = Run({"--default", "--no-restart"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "vamufcgi.service")) << r.err;
  EXPECT_FALSE(Exists(R("/etc/systemd/system/vamufcgi.service")));
  EXPECT_TRUE(Exists(R("/etc/nginx/sites-available/vamu.conf")));
  EXPECT_FALSE(Has(r.out, kFinished));
}

TEST_F(Failures, NginxFileSetupWroteIsReplaced) {
  WriteText(R("/etc/nginx/sites-available/vamu.conf"), std::string(kSetupMark) + "old\n");
  ASSERT_EQ(Run({"--default", "--no-restart"}).status, 0);
  EXPECT_TRUE(Has(Slurp(R("/etc/nginx/sites-available/vamu.conf")), "fastcgi_pass vamufcgi;"));
}

using Repeat = SetupRun;

TEST_F(Repeat, SecondRunGivesTheSameTree) {
  ASSERT_EQ(Run({"--full", "--no-restart"}).status, 0);
  auto first = Snapshot(root_);
  RunResult again = Run({"--full", "--no-restart"});
  ASSERT_EQ(again.status, 0);
  EXPECT_TRUE(Has(again.out, "0 files copied")) << again.out;
  EXPECT_EQ(Snapshot(root_), first);
}

TEST_F(Repeat, NewerFilePresentIsKeptOlderOneReplaced) {
  WriteText(R("/opt/vamu/site/Home.htm"), "edited by the publisher");
  SetAge(R("/opt/vamu/site/Home.htm"), 60);
  WriteText(R("/opt/vamu/site/Notes.htm"), "from an old installation");
  SetAge(R("/opt/vamu/site/Notes.htm"), -86400);
  ASSERT_EQ(Run({"--default", "--no-restart"}).status, 0);
  EXPECT_EQ(Slurp(R("/opt/vamu/site/Home.htm")), "edited by the publisher");
  EXPECT_EQ(Slurp(R("/opt/vamu/site/Notes.htm")), Slurp(D("site/Notes.htm")));

  // A rebuilt file in the distribution replaces the installed one.
  WriteText(D("site/Home.htm"), "new release");
  SetAge(D("site/Home.htm"), 120);
  ASSERT_EQ(Run({"--default", "--no-restart"}).status, 0);
  EXPECT_EQ(Slurp(R("/opt/vamu/site/Home.htm")), "new release");
}

TEST_F(Repeat, ChangingTheAnswerRepointsTheBases) {
  ASSERT_EQ(Run({"--full", "--no-restart"}).status, 0);
  ASSERT_EQ(Run({"--default", "--no-restart"}).status, 0);
  std::string reg = RegistryText();
  EXPECT_TRUE(Has(reg, D("bases/acts.vq")));
  EXPECT_FALSE(Has(reg, R("/opt/vamu/bases/acts.vq")));
  // One value per catalogue, not one more per run.
  std::size_t values = 0;
  for (std::size_t at = reg.find("\"1\"="); at != std::string::npos; at = reg.find("\"1\"=", at + 1)) ++values;
  EXPECT_EQ(values, 2u) << reg;
}

TEST_F(Repeat, VisitCounterAndAdvertisementsAreKept) {
  WriteText(R("/etc/vamu/registry.reg"),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n\"Counter\"=dword:0000002a\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Commercials]\r\n\"Commercial1\"=\"ours.gif\"\r\n");
  ASSERT_EQ(Run({"--default", "--no-restart"}).status, 0);
  EXPECT_TRUE(Has(RegistryText(), "\"Counter\"=dword:0000002a")) << RegistryText();
  EXPECT_TRUE(Has(RegistryText(), "\"Commercial1\"=\"ours.gif\"\r\n\"Commercial2\"=")) << RegistryText();
}

}  // namespace
}  // namespace setup_test
