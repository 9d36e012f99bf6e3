// A writer killed with SIGKILL at every moment of a writing session: before
// each change it makes to the file, and in the middle of each. Afterwards
// every document whose write had returned is found by name with its
// contents, a reader sees the base either before or after the operation that
// was cut, and a writer's open and close leave a base without the write mark
// whose table an independent reader accepts.
//
// The kill points come from this executable's own pwrite and ftruncate, which
// take the place of the C library's for the file layer of the child process:
// the n-th change of a run kills the child, before it or, as the kernel may
// when a write spans pages, after the part that lies before the first page
// boundary inside it. A filler item places the words that later steps change
// across a page boundary. The parent never arms the kill points.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "container_fixture.h"
#include "kasten/container_header.h"

namespace {

long g_killAt = 0;       // 0: unarmed; -1: counting; n: kill at the n-th change
long g_changes = 0;      // changes made since the child was armed
bool g_halfway = false;  // write the part before a page boundary first
char g_crosses[4096];    // per change while counting: 1 when it spans a page boundary

constexpr off_t kPage = 4096;

void CountChange(int fd, const void* buffer, size_t n, off_t offset) {
  if (g_killAt == 0) return;
  ++g_changes;
  const off_t boundary = (offset / kPage + 1) * kPage;
  const bool crosses = buffer && boundary < offset + static_cast<off_t>(n);
  if (g_changes < static_cast<long>(sizeof g_crosses)) g_crosses[g_changes] = crosses;
  if (g_changes != g_killAt) return;
  if (g_halfway && crosses) syscall(SYS_pwrite64, fd, buffer, static_cast<size_t>(boundary - offset), offset);
  kill(getpid(), SIGKILL);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t pwrite(int fd, const void* buffer, size_t n, off_t offset) {
  CountChange(fd, buffer, n, offset);
  return syscall(SYS_pwrite64, fd, buffer, n, offset);
}

extern "C" __attribute__((visibility("default"))) int ftruncate(int fd, off_t length) {
  CountChange(fd, nullptr, 0, 0);
  return static_cast<int>(syscall(SYS_ftruncate, fd, length));
}

namespace kasten_test {
namespace {

struct Doc {
  std::string name, text;
};
using Docs = std::vector<Doc>;  // the items in slot order, empty slots left out

std::string Text(int serial, int version) {
  std::string t = "<P>Art. " + std::to_string(serial) + ". wersja " + std::to_string(version) + " ";
  for (int k = 0; k < 40 + serial * 7; ++k) t += static_cast<char>('a' + (k * serial + version) % 26);
  return t;
}

// The session the child runs, one step at a time, on a base holding D0..D5;
// after[k] is what the base holds once step k has returned. The filler's
// size decides where the slot word of A lands, which the insertion of B then
// turns into an end-of-block marker and its link.
struct Session {
  std::vector<Docs> after;
  Docs initial;
  std::size_t filler = 0;

  Session() {
    for (int i = 0; i < 6; ++i) initial.push_back({"DU\\D" + std::to_string(i) + ".HTM", Text(i, 1)});
  }

  void Plan(std::size_t fillerSize) {
    filler = fillerSize;
    after.clear();
    Docs d = initial;
    auto step = [&] { after.push_back(d); };
    d.push_back({"DU\\F.HTM", std::string(filler, 'f')});
    step();
    d.push_back({"DU\\A.HTM", Text(7, 1)});
    step();
    d.insert(d.begin() + 7, {"DU\\B.HTM", Text(20, 1)});  // before A: the chain splits at A's word
    step();
    d[3].text = Text(3, 2);  // a new version of D3
    step();
    d.erase(d.begin() + 1);  // D1 removed
    step();
    for (int i = 8; i < 10; ++i) {
      d.push_back({"DU\\D" + std::to_string(i) + ".HTM", Text(i, 1)});
      step();
    }
    step();  // close
  }

  // Runs the steps on the open base, telling `report` after each.
  void Run(CFileServer& fs, int report) const {
    auto done = [&](char k) { (void)!write(report, &k, 1); };
    char k = 0;
    Add(fs, "DU\\F.HTM", std::string(filler, 'f'), 0);
    done(k++);
    Add(fs, "DU\\A.HTM", Text(7, 1));
    done(k++);
    Insert(fs, 7, "DU\\B.HTM", Text(20, 1));
    done(k++);
    Replace(fs, 3, "DU\\D3.HTM", Text(3, 2));
    done(k++);
    fs.RemoveFile(1);
    done(k++);
    for (int i = 8; i < 10; ++i) {
      Add(fs, "DU\\D" + std::to_string(i) + ".HTM", Text(i, 1));
      done(k++);
    }
    fs.Close();
    done(k++);
  }
};

// The items a reader finds, in slot order, and whether each is found by name.
Docs ReadDocs(CFileServer& fs, std::vector<std::string>& unnamed) {
  Docs docs;
  for (DWORD i = 0; i < fs.GetSize(); ++i) {
    std::string text = Contents(fs, i);
    if (text == "<none>") continue;
    std::string name = NameAt(fs, i);
    if (fs.GetItemIndex(name.c_str()) != i) unnamed.push_back(name);
    docs.push_back({name, text});
  }
  return docs;
}

bool Same(const Docs& a, const Docs& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].text != b[i].text) return false;
  return true;
}

std::string Describe(const Docs& docs) {
  std::string s;
  for (const auto& d : docs) s += d.name + "(" + std::to_string(d.text.size()) + ") ";
  return s;
}

class KillTest : public ContainerTest {
 protected:
  void SetUp() override {
    ContainerTest::SetUp();
    pristine = dir + "/pristine.dat";
    CFileServer fs(pristine.c_str(), &kGuid, CFile::modeReadWrite);
    for (const auto& d : session.initial) Add(fs, d.name, d.text);
  }

  // Runs the session in a child killed at change `at` (0: never); returns
  // the number of steps the child reported done.
  int RunChild(long at, bool halfway, long* changes = nullptr, std::string* crossing = nullptr) {
    CopyFileReplace(pristine, path);
    int report[2];
    EXPECT_EQ(pipe(report), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(report[0]);
      CFileServer fs;
      if (!fs.Init(path.c_str(), nullptr, CFile::modeReadWrite)) _exit(3);
      g_killAt = at ? at : -1;
      g_halfway = halfway;
      g_changes = 0;
      session.Run(fs, report[1]);
      long n = g_changes;
      (void)!write(report[1], &n, sizeof n);
      (void)!write(report[1], g_crosses + 1, static_cast<std::size_t>(std::min<long>(n, sizeof g_crosses - 1)));
      _exit(0);
    }
    close(report[1]);
    std::string got;
    char buffer[64];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
    close(report[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const int steps = static_cast<int>(session.after.size());
    if (at == 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      long n = 0;
      if (got.size() >= steps + sizeof n) std::memcpy(&n, got.data() + steps, sizeof n);
      EXPECT_EQ(got.size(), steps + sizeof n + static_cast<std::size_t>(n));
      if (changes) *changes = n;
      if (crossing && got.size() >= steps + sizeof n) *crossing = got.substr(steps + sizeof n);
      return steps;
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "kill point " << at;
    return static_cast<int>(got.size());
  }

  // What the parent demands of the base after a kill during step `cut`.
  void CheckAfterKill(int cut, const std::string& where) {
    const Docs& before = cut == 0 ? session.initial : session.after[cut - 1];
    const Docs& after = session.after[static_cast<std::size_t>(cut) < session.after.size() ? cut : cut - 1];
    {
      CFileServer reader(path.c_str(), nullptr, CFile::modeRead);
      ASSERT_TRUE(reader.IsOpen()) << where;
      std::vector<std::string> unnamed;
      Docs seen = ReadDocs(reader, unnamed);
      EXPECT_TRUE(Same(seen, before) || Same(seen, after))
          << where << "\n seen:   " << Describe(seen) << "\n before: " << Describe(before)
          << "\n after:  " << Describe(after);
      EXPECT_TRUE(unnamed.empty()) << where << ": " << unnamed.size() << " not found by name, e.g. " << unnamed[0];
    }
    // A writer's open repairs what the kill left; its close writes it.
    Docs seen;
    {
      CFileServer writer(path.c_str(), nullptr, CFile::modeReadWrite);
      ASSERT_TRUE(writer.IsOpen()) << where;
    }
    std::string bytes = ReadWholeFile(path);
    EXPECT_EQ(WordAt(bytes, 32), 0u) << where << ": the write mark is still there";
    CFileServer reader(path.c_str(), nullptr, CFile::modeRead);
    EXPECT_FALSE(reader.FoundInterruptedWrite()) << where;
    std::vector<std::string> unnamed;
    seen = ReadDocs(reader, unnamed);
    EXPECT_TRUE(Same(seen, before) || Same(seen, after)) << where << " after repair: " << Describe(seen);
    EXPECT_TRUE(unnamed.empty()) << where << " after repair";
  }

  // The independent reader of the format on the repaired base: slots, names,
  // streams and the hash table as the file holds them.
  void CheckWithIndependentReader(const std::string& where) {
    std::string cmd;
    EXPECT_EQ(RunIndependentReader(path, dir, &cmd), 0) << where << ": " << cmd;
  }

  Session session;
  std::string pristine;
};

// The filler that puts A's slot word at `pageEnd` bytes before a page
// boundary. A's slot block goes at the end of the file as the filler leaves
// it: behind the filler's block (three words) and record (descriptor, three
// words, contents).
std::size_t FillerFor(const std::string& pristine, off_t pageEnd) {
  const off_t start = static_cast<off_t>(ReadWholeFile(pristine).size());
  const off_t fixed = 12 + (2 + 9) + 12;  // "DU\F.HTM" and its NUL
  off_t s = ((kPage - pageEnd) - (start + fixed)) % kPage;
  while (s < 64) s += kPage;
  return static_cast<std::size_t>(s);
}

class KillAt : public KillTest, public ::testing::WithParamInterface<int> {};

TEST_P(KillAt, EveryKillPointLeavesTheCompletedDocumentsFindable) {
  session.Plan(FillerFor(pristine, GetParam()));
  {  // The filler does place A's word where it should.
    CopyFileReplace(pristine, path);
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    Add(fs, "DU\\F.HTM", std::string(session.filler, 'f'), 0);
    ASSERT_EQ(static_cast<off_t>(ReadWholeFile(path).size()) % kPage, kPage - GetParam());
  }
  long changes = 0;
  std::string crossing;  // per change: 1 when it spans a page boundary
  ASSERT_EQ(RunChild(0, false, &changes, &crossing), static_cast<int>(session.after.size()));
  ASSERT_GT(changes, 20);  // the session really writes at many points
  ASSERT_EQ(crossing.size(), static_cast<std::size_t>(changes));
  ASSERT_NE(crossing.find('\1'), std::string::npos);  // and across a page boundary
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    std::vector<std::string> unnamed;
    ASSERT_TRUE(Same(ReadDocs(fs, unnamed), session.after.back()));
  }
  int killed = 0;
  for (long at = 1; at <= changes; ++at) {
    for (bool halfway : {false, true}) {
      if (halfway && !crossing[at - 1]) continue;  // cut only where the kernel can cut
      int done = RunChild(at, halfway);
      std::string where = "kill at change " + std::to_string(at) + (halfway ? " (cut at a page)" : "") +
                          " after " + std::to_string(done) + " steps";
      ASSERT_LT(done, static_cast<int>(session.after.size())) << where;
      CheckAfterKill(done, where);
      if ((at == changes / 3 || at == changes - 1) && !halfway) CheckWithIndependentReader(where);
      ++killed;
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(killed, changes);
  RecordProperty("kills", killed);
}

// A's slot word straddles the page boundary (1, 2 bytes before it), ends
// right before it (4: the marker and link written over it straddle), or
// lies in front of it with its link across (6).
INSTANTIATE_TEST_SUITE_P(PageBoundaries, KillAt, ::testing::Values(1, 2, 4, 6));

TEST_F(KillTest, WriteMarkStaysUntilTheWriterCloses) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  CopyFileReplace(pristine, path);
  const std::string clean = ReadWholeFile(path);
  EXPECT_EQ(WordAt(clean, 32), 0u);
  EXPECT_NE(WordAt(clean, 28), 0u);
  pid_t pid = fork();
  if (pid == 0) {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    Add(fs, "DU\\NEW.HTM", "new");
    char c = 1;
    (void)!write(report[1], &c, 1);
    (void)!read(go[0], &c, 1);  // wait until the parent has looked
    _exit(0);                   // no Close: as if killed
  }
  char c = 0;
  ASSERT_EQ(read(report[0], &c, 1), 1);
  const std::string marked = ReadWholeFile(path);
  EXPECT_EQ(WordAt(marked, 32), ContainerHeader::kWriteMark);
  EXPECT_EQ(WordAt(marked, 28), 0u);  // no table named while the file changes
  EXPECT_EQ(marked.substr(32, 4), "WRIT");
  (void)!write(go[1], &c, 1);
  waitpid(pid, nullptr, 0);
  CFileServer reader(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_TRUE(reader.FoundInterruptedWrite());
  EXPECT_EQ(reader.GetSize(), 7u);
  EXPECT_EQ(reader.GetItemIndex("NEW.HTM"), 6u);
  EXPECT_EQ(reader.GetItemIndex("D5.HTM"), 5u);
  EXPECT_EQ(ReadWholeFile(path), marked);  // a reader never writes
}

TEST_F(KillTest, OpeningAndClosingWithoutChangesLeavesTheFileAlone) {
  CopyFileReplace(pristine, path);
  const std::string before = ReadWholeFile(path);
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    EXPECT_EQ(Contents(fs, 2), session.initial[2].text);
  }
  EXPECT_EQ(ReadWholeFile(path), before);
}

}  // namespace
}  // namespace kasten_test
