// The harnesses without libFuzzer: runs each file given (or each file of a
// directory given) once through the harness. The plain and sanitizer
// builds run the committed seeds and the inputs of past findings this way,
// so a harness that no longer builds or a finding that comes back shows in
// every test run, not only in the clang build.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    fs::path p = argv[i];
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      for (const auto& entry : fs::recursive_directory_iterator(p))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else if (fs::exists(p, ec)) {
      inputs.push_back(p);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& p : inputs) {
    std::string bytes = fuzz::ReadFileBytes(p.string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
