#include "fuzz/fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/message_box.h"

namespace fuzz {

void PropertyFailed(const char* file, int line, const std::string& what) {
  std::fprintf(stderr, "\n==fuzz== property broken at %s:%d: %s\n", file, line, what.c_str());
  std::fflush(stderr);
  std::abort();
}

namespace {

struct Scratch {
  std::string path;
  Scratch() {
    struct stat st;
    std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0
                           ? "/dev/shm"
                           : std::filesystem::temp_directory_path().string();
    path = base + "/vamufuzz." + std::to_string(::getpid());
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    std::filesystem::create_directories(path);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::string& ScratchDir() {
  static Scratch scratch;
  return scratch.path;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) PropertyFailed(__FILE__, __LINE__, "cannot write the scratch file " + path);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void QuietMessages() {
  SetMessageSink([](const std::string&, const std::string&) {});
}

std::string Shown(std::string_view bytes, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

}  // namespace fuzz
