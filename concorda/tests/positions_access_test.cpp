// Who may read a base's positions file, and what a reader says when it may
// not. An editor builds the bases under one account and the server reads
// them under another: the positions file must be as readable as its base
// (it is written through a temporary file, which the system makes private),
// and a file that is there but cannot be read is not reported as missing.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "concorda/positions_format.h"
#include "doc_fixture.h"
#include "platform/message_box.h"

using namespace doctest;

namespace {

// The process's file mode mask for the life of a test.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
  ~ScopedUmask() { ::umask(m_previous); }

 private:
  mode_t m_previous;
};

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

mode_t PermissionsOf(const std::string& path) { return StatOf(path).st_mode & 07777; }

const char* const kDocs[] = {
    "<P>Art. 1. Kodeks pracy stosuje się do pracowników.</P>",
    "<P>Sąd oddala skargę kasacyjną w całości.</P>",
    "<P>Skargi kasacyjnej nie wnosi się od postanowień kodeks pracy.</P>",
};

void Build(const std::string& path, const GUID& guid) {
  CDocServer writer(path.c_str(), &guid, kCreate);
  for (std::size_t i = 0; i < std::size(kDocs); ++i) AddDoc(writer, "d" + std::to_string(i), kDocs[i]);
}

}  // namespace

TEST(PositionsFileAccess, IsThatOfItsBaseWhicheverCommandWritesIt) {
  ScopedUmask mask(022);
  TempDir dir;
  const std::string path = dir.File("a.vq"), positions = concorda::PositionsPath(path);
  GUID guid = TestGuid();

  // Built: the base as the mask makes a new file, and the positions so too.
  Build(path, guid);
  EXPECT_EQ(PermissionsOf(path), 0644u);
  EXPECT_EQ(PermissionsOf(positions), 0644u);

  // A base the operator gave to a group alone, then added to.
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    AddDoc(writer, "d9", "<P>Kodeks pracy w brzmieniu ustalonym.</P>");
  }
  EXPECT_EQ(PermissionsOf(positions), 0640u);

  // Written anew for a base opened to read (the positions command); the
  // base's execute bits are no business of a data file's.
  ASSERT_EQ(::chmod(path.c_str(), 0754), 0);
  {
    CDocServer reader;
    ASSERT_TRUE(reader.Init(path.c_str(), nullptr, kRead));
    std::string why;
    ASSERT_TRUE(reader.WritePositions(&why)) << why;
  }
  EXPECT_EQ(PermissionsOf(positions), 0644u);

  // Compacted: the file follows the base again.
  ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    writer.RemoveFile(writer.GetItemIndex("d1"));
    ASSERT_TRUE(writer.Compact());
  }
  EXPECT_EQ(PermissionsOf(positions), 0660u);

  // The group the base belongs to, where this process may give any (the
  // superuser, as the tests run in CI); any other process gives its own.
  if (::geteuid() == 0) {
    const gid_t other = StatOf(path).st_gid == 4321 ? 4322 : 4321;
    ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), other), 0);
    CDocServer reader;
    ASSERT_TRUE(reader.Init(path.c_str(), nullptr, kRead));
    ASSERT_TRUE(reader.WritePositions(nullptr));
    EXPECT_EQ(StatOf(positions).st_gid, other);
    EXPECT_EQ(PermissionsOf(positions), 0660u);
  }

  // The file is the base's all along: phrases are answered from it.
  CDocServer reader;
  ASSERT_TRUE(reader.Init(path.c_str(), nullptr, kRead));
  EXPECT_EQ(reader.PositionsState(), concorda::CPositionsFile::State::kUsable);
}

TEST(PositionsFileAccess, AFileThatCannotBeOpenedIsNotReportedMissing) {
  TempDir dir;
  GUID guid = TestGuid();
  std::vector<std::string> messages;
  MessageSink previous = SetMessageSink([&](const std::string& text, const std::string&) { messages.push_back(text); });

  // No file at all: said so.
  const std::string gone = dir.File("gone.vq");
  Build(gone, guid);
  ASSERT_TRUE(DeleteFileAt(concorda::PositionsPath(gone)));
  std::vector<DWORD> expected;
  {
    CDocServer reader;
    ASSERT_TRUE(reader.Init(gone.c_str(), nullptr, kRead));
    EXPECT_EQ(reader.PositionsState(), concorda::CPositionsFile::State::kMissing);
    expected = Query(reader, "\"kodeks pracy\"");
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("there is no positions file"), std::string::npos) << messages[0];
  EXPECT_EQ(expected, (std::vector<DWORD>{0, 2}));

  // Something in its place that cannot be read as a file (permissions
  // cannot stand in: the superuser reads any file). The reason is given.
  messages.clear();
  const std::string blocked = dir.File("blocked.vq");
  Build(blocked, guid);
  ASSERT_TRUE(DeleteFileAt(concorda::PositionsPath(blocked)));
  ASSERT_EQ(::mkdir(concorda::PositionsPath(blocked).c_str(), 0755), 0);
  {
    CDocServer reader;
    ASSERT_TRUE(reader.Init(blocked.c_str(), nullptr, kRead));
    EXPECT_EQ(reader.PositionsState(), concorda::CPositionsFile::State::kMissing);
    EXPECT_EQ(Query(reader, "\"kodeks pracy\""), expected);
  }
  SetMessageSink(previous);
  ::rmdir(concorda::PositionsPath(blocked).c_str());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].find("there is no positions file"), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find("cannot be opened (Is a directory)"), std::string::npos) << messages[0];
}
