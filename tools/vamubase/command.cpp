#include "tools/vamubase/command.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "platform/message_box.h"

namespace vamubase {

namespace {
std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}
}  // namespace

bool RegisterCommand(const Command& command) {
  Table().push_back(command);
  return true;
}

const std::vector<Command>& Commands() { return Table(); }

const Command* FindCommand(const std::string& name) {
  for (const auto& c : Table())
    if (name == c.name) return &c;
  return nullptr;
}

int Fail(const std::string& text) {
  std::cerr << "vamubase: " << text << "\n";
  return kFailed;
}

int Usage(const char* command, const std::string& text) {
  const Command* c = FindCommand(command);
  std::cerr << "vamubase " << command << ": " << text << "\n";
  if (c) std::cerr << "usage: vamubase " << c->name << " " << c->synopsis << "\n";
  return kUsage;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  for (auto it = args.begin(); it != args.end() && *it != "--"; ++it)
    if (*it == name) {
      args.erase(it);
      return true;
    }
  return false;
}

std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name, bool& missing) {
  for (auto it = args.begin(); it != args.end() && *it != "--"; ++it) {
    if (*it == name) {
      if (it + 1 == args.end()) {
        missing = true;
        args.erase(it);
        return std::nullopt;
      }
      std::string value = *(it + 1);
      args.erase(it, it + 2);
      return value;
    }
    if (it->rfind(name + "=", 0) == 0) {
      std::string value = it->substr(name.size() + 1);
      args.erase(it);
      return value;
    }
  }
  return std::nullopt;
}

bool TakeJobs(std::vector<std::string>& args, unsigned* jobs) {
  bool missing = false;
  std::optional<std::string> value = TakeOption(args, "--jobs", missing);
  const unsigned cores = std::thread::hardware_concurrency();
  *jobs = cores ? cores : 1;
  if (missing) return false;
  if (!value) return true;
  char* end = nullptr;
  unsigned long n = std::strtoul(value->c_str(), &end, 10);
  if (value->empty() || *end || n < 1 || n > 256) return false;
  *jobs = static_cast<unsigned>(n);
  return true;
}

bool NoOptionsLeft(const char* command, std::vector<std::string>& args) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == "--") {
      args.erase(it);
      return true;
    }
    if (it->size() > 1 && (*it)[0] == '-') {
      Usage(command, "unknown option " + *it);
      return false;
    }
  }
  return true;
}

std::optional<DWORD> ParseIndex(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v >= 0xFFFFFFFFull) return std::nullopt;
  return static_cast<DWORD>(v);
}

void ExplainWaits(const std::string& base) {
  SetMessageSink([base, told = false](const std::string& text, const std::string& caption) mutable {
    if (text == "I'm sleep 1000ms") {
      if (!told) std::cerr << "vamubase: " << base << " is in use by another process; waiting for it...\n";
      told = true;
      return;
    }
    std::cerr << "vamubase: " << (caption.empty() ? "" : caption + ": ") << text << "\n";
  });
}

bool OpenBase(CFileServer& base, const std::string& path, bool writable) {
  if (!FileExists(path)) {
    Fail(path + ": no such base");
    return false;
  }
  ExplainWaits(path);
  if (!base.Init(path.c_str(), nullptr, writable ? CFile::modeReadWrite : CFile::modeRead)) {
    Fail(path + ": cannot open (not a base, damaged header, or no permission)");
    return false;
  }
  if (base.FoundInterruptedWrite())
    std::cerr << "vamubase: " << path << ": the last write to this base did not finish (the writer was killed or failed); "
              << (writable ? "its slot count and name table are rebuilt from the items on disk\n"
                           : "it is read as the items on disk stand, and the next writing command rebuilds its name table\n");
  return true;
}

}  // namespace vamubase
