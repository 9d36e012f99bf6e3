// Shared helpers of the catalogue tests: references, a temporary directory.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "biblion/rnp.h"
#include "platform/paths.h"

namespace biblion_test {

inline _RNP R(DWORD kind, DWORD year, DWORD number, DWORD position, DWORD prefix = 0) {
  return _RNP::Make(kind, year, number, position, prefix);
}

// A directory of its own under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = TempDirectory() + "/biblion_testXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) m_path = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }
  // Names of the files in the directory.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(m_path)) out.push_back(e.path().filename().string());
    return out;
  }

 private:
  std::string m_path;
};

}  // namespace biblion_test
