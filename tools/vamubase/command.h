// The commands of vamubase. Each command lives in a file of its family and
// registers itself with VAMUBASE_COMMAND; main() dispatches by name.
//
// A command gets its arguments (after the command word) and returns the exit
// status: 0 success, 1 failure (reported on standard error), 2 wrong usage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kasten/file_server.h"
#include "platform/windows_types.h"

namespace vamubase {

struct Command {
  const char* name;
  const char* synopsis;  // arguments, e.g. "BASE FILE..."
  const char* summary;   // one line for the command list
  const char* help;      // the options, shown by "vamubase help NAME"
  int (*run)(std::vector<std::string>& args);
};

bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

#define VAMUBASE_COMMAND(id, ...) \
  static const bool id##_registered = ::vamubase::RegisterCommand(::vamubase::Command{__VA_ARGS__})

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// "vamubase: text" on standard error; returns kFailed.
int Fail(const std::string& text);
// "vamubase NAME: text" and the synopsis; returns kUsage.
int Usage(const char* command, const std::string& text);

// Takes the flag `name` out of args (e.g. "--zlib"); true when it was there.
bool TakeFlag(std::vector<std::string>& args, const std::string& name);
// Takes "--name VALUE" or "--name=VALUE" out of args. An option given
// without its value leaves `missing` set.
std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name, bool& missing);
// Rejects options left in args (anything starting with "-" before "--").
bool NoOptionsLeft(const char* command, std::vector<std::string>& args);

// Takes "--jobs N" out of args into *jobs (default: the number of cores);
// false when N is no number from 1 to 256.
bool TakeJobs(std::vector<std::string>& args, unsigned* jobs);

// A slot index written in decimal, or nothing.
std::optional<DWORD> ParseIndex(const std::string& text);

// Waiting for a base that another process holds is reported once, in words.
void ExplainWaits(const std::string& base);

// Opens an existing base (as a plain container or, given a CDocServer, with
// its index); never creates one, so a mistyped name leaves nothing behind.
// Reports the failure and returns false.
bool OpenBase(CFileServer& base, const std::string& path, bool writable);

}  // namespace vamubase
