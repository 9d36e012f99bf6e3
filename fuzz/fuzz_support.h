// What every harness of fuzz/ shares: the entry point libFuzzer calls, a
// property check that stops the run with a message, a scratch directory in
// memory for the files a harness must hand to code that opens paths, and
// silence for the libraries' message lines (a damaged input makes many).
//
// A harness checks properties, not only survival: FUZZ_REQUIRE(cond, what)
// prints what broke and aborts, which libFuzzer records as a crash with the
// input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

[[noreturn]] void PropertyFailed(const char* file, int line, const std::string& what);

#define FUZZ_REQUIRE(cond, what)                                   \
  do {                                                             \
    if (!(cond)) ::fuzz::PropertyFailed(__FILE__, __LINE__, what); \
  } while (0)

// A directory of this process for scratch files, in /dev/shm when there is
// one (the harnesses write a file per input), removed when the process ends.
const std::string& ScratchDir();

// Replaces the file at path with the bytes; aborts when it cannot (the
// harness would test nothing).
void WriteFileBytes(const std::string& path, std::string_view bytes);
std::string ReadFileBytes(const std::string& path);

// Sends the libraries' message lines nowhere.
void QuietMessages();

// Printable form of bytes for a property message (escapes, cut at `limit`).
std::string Shown(std::string_view bytes, std::size_t limit = 200);

}  // namespace fuzz
