// The Debian package as an operator meets it: what it ships, an installation
// by dpkg below a temporary root (maintainer scripts included, run with
// DPKG_ROOT), the demo served from there through the installed nginx site and
// the FastCGI host as its unit starts it, an upgrade that keeps what the
// operator changed, and a purge. The package is made from this build by the
// CTest fixture package_deb.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "host/tests/server_fixture.h"
#include "platform/registry.h"
#include "tests/installation_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using host::test::Fetch;
using host::test::Response;
using host::test::Site;

struct Command {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

// Runs a program to its end with standard input from /dev/null (so that a
// question of dpkg fails the test instead of waiting) and its output in a file.
Command RunCommand(const std::string& work, std::vector<std::string> args) {
  Command result;
  std::string outPath = work + "/command.out";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.output = Site::ReadFile(outPath);
  return result;
}

std::string PackageFile() {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(VAMU_DEB_DIR, ec)) {
    std::string name = e.path().filename();
    if (name.rfind("vamu_", 0) == 0 && e.path().extension() == ".deb") return e.path();
  }
  return "";
}

// The paths of the package's files, as in its data archive ("./etc/vamu/registry.reg");
// links with " -> target".
std::set<std::string> Contents(const std::string& listing) {
  std::set<std::string> paths;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::size_t at = line.find(" ./");
    if (at != std::string::npos) paths.insert(line.substr(at + 1));
  }
  return paths;
}

// The places the package's files name, which the test finds below its root.
std::string BelowRoot(std::string text, const std::string& root) {
  for (const char* place : {"/usr/lib/vamu", "/usr/share/vamu", "/etc/vamu", "/var/lib/vamu", "/var/cache/vamu",
                            "/run/vamu"}) {
    std::string to = root + place;
    for (std::size_t at = 0; (at = text.find(place, at)) != std::string::npos; at += to.size())
      text.replace(at, std::strlen(place), to);
  }
  return text;
}

struct Package : host::test::InstallationTest {
  std::string deb = PackageFile();

  void SetUp() override {
    ASSERT_FALSE(deb.empty()) << "no package in " VAMU_DEB_DIR " (the test package_deb makes it)";
    InstallationTest::SetUp();
  }

  Command Dpkg(std::vector<std::string> args) {
    std::vector<std::string> all{"dpkg", "--root=" + root, "--force-script-chrootless", "--force-depends",
                                 "--log=" + tmp + "/dpkg.log"};
    if (::geteuid() != 0) all.push_back("--force-not-root");
    all.insert(all.end(), args.begin(), args.end());
    return RunCommand(tmp, all);
  }

  // A root with an empty package database and the directory nginx keeps its
  // enabled sites in, as on a system where nginx is installed.
  void Install(const std::string& package) {
    if (!fs::exists(root + "/var/lib/dpkg/status")) {
      for (const char* d : {"/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/var/lib/dpkg/triggers",
                            "/etc/nginx/sites-enabled"})
        fs::create_directories(root + d);
      Site::WriteFile(root + "/var/lib/dpkg/status", "");
    }
    Command c = Dpkg({"--install", package});
    ASSERT_EQ(c.exitCode, 0) << c.output;
  }

  std::string InstalledVersion() {
    return RunCommand(tmp, {"dpkg-query", "--admindir=" + root + "/var/lib/dpkg", "-W", "-f=${Version} ${Status}", "vamu"})
        .output;
  }

  // The FastCGI host as the installed unit starts it, nginx with the
  // installed site file; the places they name are below the root.
  void Serve(unsigned short* port) {
    ASSERT_NO_FATAL_FAILURE(StartUnit(BelowRoot(Site::ReadFile(root + "/lib/systemd/system/vamufcgi.service"), root)));
    StartNginx(BelowRoot(Site::ReadFile(root + "/etc/nginx/sites-enabled/vamu.conf"), root), port);
  }
};

TEST_F(Package, ShipsProgramsLibrariesSiteConfigurationAndManPages) {
  Command listing = RunCommand(tmp, {"dpkg-deb", "--contents", deb});
  ASSERT_EQ(listing.exitCode, 0) << listing.output;
  std::set<std::string> files = Contents(listing.output);
  for (const char* path :
       {"./usr/bin/vamuserver -> ../lib/vamu/bin/vamuserver", "./usr/bin/vamufcgi -> ../lib/vamu/bin/vamufcgi",
        "./usr/bin/vamubase -> ../lib/vamu/bin/vamubase", "./usr/sbin/vamu-setup -> ../lib/vamu/setup",
        "./usr/lib/vamu/bin/vamuserver", "./usr/lib/vamu/bin/vamufcgi", "./usr/lib/vamu/bin/vamubase",
        "./usr/lib/vamu/setup", "./usr/lib/vamu/VamuQad.inf", "./usr/lib/vamu/lib/libvamuplatform.so",
        "./usr/lib/vamu/lib/libkasten.so", "./usr/lib/vamu/lib/libconcorda.so", "./usr/lib/vamu/lib/libbiblion.so",
        "./usr/lib/vamu/lib/libportico.so", "./usr/lib/vamu/site -> ../../share/vamu/site",
        "./usr/share/vamu/site/default.htm", "./usr/share/vamu/site/tree.js", "./usr/share/vamu/demo/acts.vq",
        "./usr/share/vamu/demo/rulings.vq", "./usr/share/vamu/demo/spis.vq", "./usr/share/man/man1/vamubase.1.gz",
        "./usr/share/man/man8/vamuserver.8.gz", "./usr/share/man/man8/vamufcgi.8.gz",
        "./usr/share/man/man8/vamu-setup.8.gz", "./usr/share/doc/vamu/copyright", "./usr/share/doc/vamu/changelog.gz",
        "./usr/share/doc/vamu/examples/vamu-balancer.conf",
        "./etc/vamu/registry.reg", "./etc/nginx/sites-available/vamu.conf", "./lib/systemd/system/vamufcgi.service",
        "./var/lib/vamu/bases/", "./var/cache/vamu/"})
    EXPECT_EQ(files.count(path), 1u) << path << " is not in the package:\n" << listing.output;
  for (const std::string& path : files) {
    EXPECT_EQ(path.find("/tests/"), std::string::npos) << "a test in the package: " << path;
    EXPECT_EQ(path.find("_bench"), std::string::npos) << "a benchmark in the package: " << path;
  }

  // Both files under /etc are configuration files, which dpkg keeps when the
  // operator changed them; the unit is the package's own.
  Command conffiles = RunCommand(tmp, {"dpkg-deb", "--info", deb, "conffiles"});
  ASSERT_EQ(conffiles.exitCode, 0) << conffiles.output;
  EXPECT_EQ(conffiles.output, "/etc/vamu/registry.reg\n/etc/nginx/sites-available/vamu.conf\n");
}

TEST_F(Package, ProgramsFindTheirLibrariesRelativeToThemselves) {
  Command x = RunCommand(tmp, {"dpkg-deb", "--extract", deb, root});
  ASSERT_EQ(x.exitCode, 0) << x.output;
  int elves = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.is_symlink() || Site::ReadFile(e.path()).compare(0, 4, "\x7f" "ELF") != 0) continue;
    ++elves;
    Command dynamic = RunCommand(tmp, {"readelf", "--dynamic", e.path()});
    ASSERT_EQ(dynamic.exitCode, 0) << dynamic.output;
    std::string runpath = host::test::LineStarting(
        dynamic.output.substr(std::min(dynamic.output.find("Library runpath: ["), dynamic.output.size())),
        "Library runpath: [");
    // A run path of the build tree would make the installed programs load
    // the libraries of whatever build lies there, or none.
    EXPECT_EQ(runpath.rfind("$ORIGIN", 0), 0u) << e.path() << ": " << runpath;
    EXPECT_EQ(runpath.find(VAMU_BINARY_DIR), std::string::npos) << e.path() << ": " << runpath;
    // Stripped: the package carries no debugging information.
    Command sections = RunCommand(tmp, {"readelf", "--section-headers", e.path()});
    EXPECT_EQ(sections.output.find(".debug_info"), std::string::npos) << e.path();
  }
  EXPECT_EQ(elves, 9) << "three programs, setup and five libraries";
  // Installed below any directory, the programs start from their links:
  // each finds the libraries it needs.
  for (const char* program : {"/usr/bin/vamubase", "/usr/bin/vamuserver", "/usr/bin/vamufcgi", "/usr/sbin/vamu-setup"}) {
    Command help = RunCommand(tmp, {root + program, "--help"});
    EXPECT_EQ(help.exitCode, 0) << program << ": " << help.output;
    EXPECT_NE(help.output.find("sage: "), std::string::npos) << program << ": " << help.output;
  }
}

TEST_F(Package, InstalledBelowARootServesTheDemoThroughNginx) {
  Install(deb);
  EXPECT_NE(InstalledVersion().find("install ok installed"), std::string::npos) << InstalledVersion();

  // The first installation puts the demo bases where the registry file looks
  // for bases, and enables the nginx site.
  for (const char* base : {"acts.vq", "rulings.vq", "spis.vq"}) {
    std::string served = Site::ReadFile(root + "/var/lib/vamu/bases/" + base);
    EXPECT_FALSE(served.empty()) << base;
    EXPECT_EQ(served, Site::ReadFile(root + "/usr/share/vamu/demo/" + base)) << base;
  }
  ASSERT_TRUE(fs::is_symlink(root + "/etc/nginx/sites-enabled/vamu.conf"));
  EXPECT_EQ(fs::read_symlink(root + "/etc/nginx/sites-enabled/vamu.conf"), "../sites-available/vamu.conf");

  // Every place the registry file names is installed.
  CRegistry registry = CRegistry::Load(root + "/etc/vamu/registry.reg");
  std::optional<RegValue> dir = registry.Value("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup", "Dir");
  ASSERT_TRUE(dir);
  EXPECT_TRUE(fs::exists(root + dir->text + "/default.htm")) << dir->text;
  std::vector<RegValue> bases = registry.Values("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion");
  std::vector<RegValue> toc = registry.Values("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\TOC");
  ASSERT_EQ(bases.size(), 2u);
  ASSERT_EQ(toc.size(), 1u);
  bases.push_back(toc[0]);
  for (const RegValue& v : bases) EXPECT_TRUE(fs::is_regular_file(root + v.text)) << v.text;

  // The services read the registry file at the places below the root.
  std::string installed = Site::ReadFile(root + "/etc/vamu/registry.reg");
  Site::WriteFile(root + "/etc/vamu/registry.reg", BelowRoot(installed, root));
  unsigned short port = 0;
  ASSERT_NO_FATAL_FAILURE(Serve(&port));

  Response home = Fetch(port, "/");
  ASSERT_EQ(home.Status(), 200) << Site::ReadFile(tmp + "/nginx/error.log");
  EXPECT_EQ(home.Body(), Site::ReadFile(root + "/usr/share/vamu/site/default.htm"));
  Response frameset = Fetch(port, "/portico.dll?Main&D97483D09946");
  ASSERT_EQ(frameset.Status(), 200) << Site::ReadFile(errors) << Site::ReadFile(tmp + "/nginx/error.log");
  EXPECT_NE(frameset.Body().find("<FRAME NAME=VAMUFOOT"), std::string::npos) << frameset.Body();
  Response topic = Fetch(port, "/portico.dll?Topic&D97483D09946");
  ASSERT_EQ(topic.Status(), 200);
  EXPECT_NE(topic.Body().find("KONSTYTUCJA"), std::string::npos) << "the act from the demo base";
  EXPECT_NE(topic.Body().find("orbmp.gif"), std::string::npos) << "ruling icons from the rulings base";
  Response search = Fetch(port, "/portico.dll?Search&Pattern=konstytucja&TypyDoc=1");
  ASSERT_EQ(search.Status(), 200);
  EXPECT_NE(search.Body().find("portico.dll?Topic&"), std::string::npos) << search.Body();
  // The visit of the frameset was counted in the installed registry file.
  EXPECT_EQ(host::test::AwaitVisits(root + "/etc/vamu/registry.reg", 1), 1);
  // The table of acts was kept in the package's state directory.
  int caches = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(root + "/var/cache/vamu"))
    caches += e.path().extension() == ".itt";
  EXPECT_GE(caches, 1) << "no cache of the table of acts in /var/cache/vamu";

  StopServers();
}

// A later version of the package: the same files with its version raised and
// one file of the site changed, so that the test sees what an upgrade replaces.
std::string LaterVersion(const std::string& deb, const std::string& work) {
  std::string tree = work + "/later";
  if (RunCommand(work, {"dpkg-deb", "--raw-extract", deb, tree}).exitCode != 0) return "";
  std::string control = Site::ReadFile(tree + "/DEBIAN/control");
  std::size_t at = control.find("\nVersion: ");
  if (at == std::string::npos) return "";
  std::size_t end = control.find('\n', at + 1);
  control.insert(end, "+1");
  Site::WriteFile(tree + "/DEBIAN/control", control);
  std::ofstream(tree + "/usr/share/vamu/site/Home.htm", std::ios::app) << "<!-- later -->";
  std::string out = work + "/later.deb";
  if (RunCommand(work, {"dpkg-deb", "--root-owner-group", "-Znone", "--build", tree, out}).exitCode != 0) return "";
  return out;
}

TEST_F(Package, UpgradeKeepsTheChangedRegistryAndTheBasesInService) {
  Install(deb);
  std::string version = InstalledVersion();
  // The operator's changes: a setting of the registry file, a base of their own.
  std::string registry = Site::ReadFile(root + "/etc/vamu/registry.reg") +
                         "\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\extra]\r\n\"1\"=\"/srv/mine.vq\"\r\n";
  Site::WriteFile(root + "/etc/vamu/registry.reg", registry);
  std::string mine = Site::ReadFile(root + "/var/lib/vamu/bases/rulings.vq");
  Site::WriteFile(root + "/var/lib/vamu/bases/acts.vq", mine);
  fs::remove(root + "/etc/nginx/sites-enabled/vamu.conf");  // the operator disabled the site

  std::string later = LaterVersion(deb, tmp);
  ASSERT_FALSE(later.empty());
  Install(later);
  std::string upgraded = InstalledVersion();
  EXPECT_NE(upgraded, version);
  EXPECT_NE(upgraded.find("+1 install ok installed"), std::string::npos) << upgraded;

  EXPECT_EQ(Site::ReadFile(root + "/etc/vamu/registry.reg"), registry) << "the changed configuration file is kept";
  EXPECT_EQ(Site::ReadFile(root + "/var/lib/vamu/bases/acts.vq"), mine) << "the base in service is not the demo's";
  EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/etc/nginx/sites-enabled/vamu.conf")))
      << "a site the operator disabled stays disabled";
  std::string home = Site::ReadFile(root + "/usr/share/vamu/site/Home.htm");
  EXPECT_EQ(home.substr(home.size() - 14), "<!-- later -->") << "the package's own files are replaced";
}

TEST_F(Package, PurgeRemovesConfigurationAndStateButKeepsTheBases) {
  Install(deb);
  Site::WriteFile(root + "/var/cache/vamu/acts.cache", "state");
  Site::WriteFile(root + "/etc/vamu/registry.reg.lock", "");
  Command purge = Dpkg({"--purge", "vamu"});
  ASSERT_EQ(purge.exitCode, 0) << purge.output;

  for (const char* gone : {"/etc/vamu/registry.reg", "/etc/vamu/registry.reg.lock",
                           "/etc/nginx/sites-available/vamu.conf", "/etc/nginx/sites-enabled/vamu.conf",
                           "/var/cache/vamu", "/usr/lib/vamu", "/usr/share/vamu", "/usr/bin/vamuserver",
                           "/lib/systemd/system/vamufcgi.service"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(root + gone))) << gone;
  EXPECT_TRUE(fs::is_regular_file(root + "/var/lib/vamu/bases/acts.vq")) << "the bases are the operator's data";
  EXPECT_EQ(InstalledVersion().find("install ok installed"), std::string::npos) << InstalledVersion();
}

}  // namespace
