// vamubase: prepares and checks document bases.
//   vamubase COMMAND [OPTIONS] ARGS...      vamubase help [COMMAND]
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "tools/vamubase/command.h"

namespace {

void PrintHelp(std::ostream& out) {
  out << "usage: vamubase COMMAND [OPTIONS] ARGS...\n"
         "Prepares and checks document bases (containers of windows-1250 HTML documents).\n\n"
         "Commands:\n";
  for (const auto& c : vamubase::Commands()) {
    std::string head = std::string(c.name) + " " + c.synopsis;
    out << "  " << head;
    out << (head.size() < 34 ? std::string(34 - head.size(), ' ') : std::string("\n") + std::string(36, ' '));
    out << c.summary << "\n";
  }
  out << "\n\"vamubase help COMMAND\" shows the options of a command.\n"
         "Exit status: 0 success, 1 failure, 2 wrong usage.\n";
}

int PrintCommandHelp(const std::string& name) {
  const vamubase::Command* c = vamubase::FindCommand(name);
  if (!c) return vamubase::Fail("no command \"" + name + "\"; see vamubase --help");
  std::cout << "usage: vamubase " << c->name << " " << c->synopsis << "\n" << c->summary << "\n";
  if (c->help && *c->help) std::cout << "\n" << c->help;
  return vamubase::kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintHelp(std::cerr);
    return vamubase::kUsage;
  }
  std::string word = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (word == "--help" || word == "-h") {
    PrintHelp(std::cout);
    return vamubase::kOk;
  }
  if (word == "help") return args.empty() ? (PrintHelp(std::cout), vamubase::kOk) : PrintCommandHelp(args[0]);
  const vamubase::Command* command = vamubase::FindCommand(word);
  if (!command) {
    std::cerr << "vamubase: unknown command \"" << word << "\"\n";
    PrintHelp(std::cerr);
    return vamubase::kUsage;
  }
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return PrintCommandHelp(word);
  try {
    return command->run(args);
  } catch (const CException& e) {
    return vamubase::Fail(e.GetErrorMessage());
  } catch (const std::exception& e) {
    return vamubase::Fail(e.what());
  }
}
