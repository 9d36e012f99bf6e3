#include "setup/tests/setup_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file.h"
#include "platform/paths.h"
#include "setup/inf_file.h"

namespace fs = std::filesystem;

namespace setup_test {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void SetAge(const std::string& path, long seconds) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec += seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    struct stat st;
    ::lstat(e.path().c_str(), &st);
    std::string d = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                    std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode)) d += " " + Slurp(e.path());
    if (S_ISLNK(st.st_mode)) d += " -> " + fs::read_symlink(e.path()).string();
    if (S_ISDIR(st.st_mode)) d = std::to_string(st.st_mode);  // a directory's time follows its entries' renames
    out[e.path().string().substr(dir.size())] = d;
  }
  return out;
}

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

std::string MakeTempDir() {
  std::string pattern = TempDirectory() + "/vamu-setup-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "cannot make a temporary directory";
  return pattern;
}

RunResult RunProgram(const std::string& dir, const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, const std::string& locale) {
  WriteText(dir + "/in", input);
  // The registry and the locale come from the command line alone.
  std::string cmd = "env -u VAMU_REGISTRY -u LANG -u LC_CTYPE LC_ALL=" + Quote(locale) + " " + Quote(program);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " <" + Quote(dir + "/in") + " >" + Quote(dir + "/out") + " 2>" + Quote(dir + "/err");
  int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(dir + "/out");
  r.err = Slurp(dir + "/err");
  return r;
}

void SetupRun::SetUp() {
  tmp_ = MakeTempDir();
  dist_ = tmp_ + "/dist";
  root_ = tmp_ + "/root";
  fs::create_directories(dist_ + "/config");
  fs::create_directories(root_ + "/etc/nginx");

  ASSERT_TRUE(CopyFileReplace(SETUP_PROGRAM, D("setup")));
  ::chmod(D("setup").c_str(), 0755);
  ASSERT_TRUE(CopyFileReplace(SETUP_SOURCE_DIR "/VamuQad.inf", D("VamuQad.inf")));
  for (const char* t : {"vamu-nginx.conf", "vamufcgi.service"})
    ASSERT_TRUE(CopyFileReplace(std::string(SETUP_SOURCE_DIR "/config/") + t, D(std::string("config/") + t)));

  // One small file for every file the full installation copies, in the
  // subdirectory the information file takes it from.
  std::string why;
  auto inf = CInfFile::Open(D("VamuQad.inf"), &why);
  ASSERT_TRUE(inf) << why;
  for (const std::string& section : inf->AllFields("FullInstall", "CopyFiles")) {
    auto sub = inf->Fields("SourceDirs", section);
    for (const InfLine& line : inf->Lines(section)) {
      std::string name = (sub ? sub->front() + "/" : std::string()) + line.fields.front();
      sources_.push_back(name);
      WriteText(D(name), "contents of " + name + "\n");
      SetAge(D(name), -3600);
    }
  }
  ASSERT_FALSE(sources_.empty());
}

void SetupRun::TearDown() {
  std::error_code ec;
  if (!tmp_.empty()) fs::remove_all(tmp_, ec);
}

RunResult SetupRun::RunPlain(const std::vector<std::string>& args, const std::string& input,
                             const std::string& locale) {
  return RunProgram(tmp_, D("setup"), args, input, locale);
}

RunResult SetupRun::Run(const std::vector<std::string>& args, const std::string& input, const std::string& locale) {
  std::vector<std::string> all{"--root", root_};
  all.insert(all.end(), args.begin(), args.end());
  return RunPlain(all, input, locale);
}

}  // namespace setup_test
