// Shared helpers of the container tests: a scratch directory, items from
// strings, contents back as strings.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "kasten/file_server.h"
#include "platform/file.h"
#include "platform/message_box.h"

namespace kasten_test {

inline const GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

class ContainerTest : public ::testing::Test {
 protected:
  // On a memory file system when there is one: the damage and kill tests
  // write thousands of files, and every closing writer syncs its file.
  void SetUp() override {
    char shm[] = "/dev/shm/vamukastenXXXXXX";
    char tmp[] = "/tmp/vamukastenXXXXXX";
    const char* made = mkdtemp(shm);
    if (!made) made = mkdtemp(tmp);
    ASSERT_NE(made, nullptr);
    dir = made;
    path = dir + "/base.dat";
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  std::string dir, path;
};

struct Item {
  explicit Item(const std::string& name) : owned(MakeFileItem(name.c_str())), p(owned.get()) {}
  FileItemPtr owned;
  _FILEITEM* p;
};

inline CMemFile Source(const std::string& text) {
  CMemFile f(4096);
  f.Write(text.data(), static_cast<UINT>(text.size()));
  f.SeekToBegin();
  return f;
}

inline DWORD Add(CFileServer& fs, const std::string& name, const std::string& text, DWORD method = 1) {
  CMemFile src = Source(text);
  Item item(name);
  return fs.AddFile(src, item.p, method);
}

inline DWORD Insert(CFileServer& fs, DWORD index, const std::string& name, const std::string& text, DWORD method = 1) {
  CMemFile src = Source(text);
  Item item(name);
  return fs.InsertFile(src, item.p, index, method);
}

inline DWORD Replace(CFileServer& fs, DWORD index, const std::string& name, const std::string& text, DWORD method = 1) {
  CMemFile src = Source(text);
  Item item(name);
  return fs.ReplaceFile(src, item.p, index, method);
}

// Contents of a slot, or "<none>" when GetFile returns no item.
inline std::string Contents(CFileServer& fs, DWORD index, DWORD limit = 0, BOOL percent = FALSE) {
  CMemFile dst(4096);
  if (!FileItemPtr(fs.GetFile(index, dst, limit, percent))) return "<none>";
  return std::string(reinterpret_cast<const char*>(dst.GetBuffer()), static_cast<std::size_t>(dst.GetLength()));
}

inline std::string NameAt(CFileServer& fs, DWORD index) {
  FileItemPtr item(fs.GetItem(index));
  return item ? item->szName : "<none>";
}

inline std::string ReadWholeFile(const std::string& path) {
  CFile f(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
  std::string s(static_cast<std::size_t>(f.GetLength()), '\0');
  f.Read(s.data(), static_cast<UINT>(s.size()));
  return s;
}

inline DWORD WordAt(const std::string& bytes, std::size_t at) {
  DWORD v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return v;
}

inline void PutWord(std::string& bytes, std::size_t at, DWORD v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// Where the parts of slot 0's record lie in a container whose slots are
// contiguous (as any base with one item written in one session).
struct Slot0Record {
  DWORD offset = 0;    // of the descriptor
  DWORD fields = 0;    // method, contents length, stored length
  DWORD data = 0;      // stored bytes
  DWORD method = 0, contents = 0, stored = 0;
};

inline Slot0Record LocateSlot0(const std::string& bytes) {
  Slot0Record r;
  r.offset = WordAt(bytes, 40);
  r.fields = r.offset + (static_cast<unsigned char>(bytes.at(r.offset)) | static_cast<unsigned char>(bytes.at(r.offset + 1)) << 8);
  r.method = WordAt(bytes, r.fields);
  r.contents = WordAt(bytes, r.fields + 4);
  r.stored = WordAt(bytes, r.fields + 8);
  r.data = r.fields + 12;
  return r;
}

#ifndef KASTEN_TEST_DIR
#define KASTEN_TEST_DIR "."
#endif

// Runs the independent reader of the format (read_container.py, with
// Python's own zlib) on the container at path, against what this store reads
// from it: slot by slot the name ("<none>" for no item) and the contents,
// written below `scratch`. Returns the reader's exit status (0: agreed) and
// the command in *command.
inline int RunIndependentReader(const std::string& path, const std::string& scratch, std::string* command) {
  const std::string expected = scratch + "/expected";
  std::system(("rm -rf '" + expected + "' && mkdir '" + expected + "'").c_str());
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    for (DWORD i = 0; i < fs.GetSize(); ++i) {
      std::ofstream out(expected + "/" + std::to_string(i), std::ios::binary);
      std::string name = NameAt(fs, i);
      out << name << '\n' << (name == "<none>" ? std::string() : Contents(fs, i));
    }
  }
  *command = "python3 '" KASTEN_TEST_DIR "/read_container.py' '" + path + "' '" + expected + "'";
  return std::system(command->c_str());
}

}  // namespace kasten_test
