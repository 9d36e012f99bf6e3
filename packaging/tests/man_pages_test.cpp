// The man pages against the programs they describe: every option that a
// program's --help (and, for vamubase, "help COMMAND") lists is described in
// its page, and every command of vamubase has an item of its own. A new
// option without a line in the man page fails here.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <sstream>

#include "host/tests/server_fixture.h"

namespace {

using host::test::Site;

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// The page's text without roff's font changes and with "\-" as "-".
std::string ManText(const std::string& page) {
  std::string text = Site::ReadFile(std::string(VAMU_MAN_DIR) + "/" + page);
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// Options a help text names: "--name" and one-letter "-x".
std::set<std::string> Options(const std::string& help) {
  std::set<std::string> options;
  std::regex option(R"((^|[\s\[|(,])(--[a-z][a-z0-9-]*|-[a-z])\b)");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
    options.insert((*it)[2]);
  return options;
}

// The first word of each item (the line after ".TP"), without its macro.
std::set<std::string> ItemHeads(const std::string& man) {
  std::set<std::string> heads;
  std::istringstream in(man);
  bool next = false;
  for (std::string line; std::getline(in, line);) {
    if (next) {
      std::istringstream words(line);
      std::string word;
      words >> word;
      if (!word.empty() && word[0] == '.') words >> word;
      heads.insert(word);
    }
    next = line == ".TP";
  }
  return heads;
}

void ExpectOptionsDescribed(const std::string& help, const std::string& man, const std::string& what,
                            bool mayHaveNone = false) {
  std::set<std::string> options = Options(help);
  if (!mayHaveNone) {
    EXPECT_FALSE(options.empty()) << what << " lists no option:\n" << help;
  }
  for (const std::string& o : options)
    EXPECT_TRUE(std::regex_search(man, std::regex("(^|[^a-z-])" + o + "([^a-z-]|$)")))
        << what << ": " << o << " is not in the man page";
}

TEST(ManPages, DescribeEveryOptionOfTheHosts) {
  ExpectOptionsDescribed(Output(VAMUSERVER_PATH " --help"), ManText("vamuserver.8"), "vamuserver");
  ExpectOptionsDescribed(Output(VAMUFCGI_PATH " --help"), ManText("vamufcgi.8"), "vamufcgi");
  ExpectOptionsDescribed(Output(SETUP_PATH " --help"), ManText("vamu-setup.8"), "setup");
}

TEST(ManPages, DescribeEveryCommandOfVamubaseWithItsOptions) {
  std::string help = Output(VAMUBASE_PATH " --help");
  std::string man = ManText("vamubase.1");
  std::set<std::string> heads = ItemHeads(man);
  // The commands: the first word of each line of the list after "Commands:".
  std::istringstream in(help.substr(std::min(help.find("Commands:"), help.size())));
  std::set<std::string> commands;
  for (std::string line; std::getline(in, line);)
    if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ')
      commands.insert(line.substr(2, line.find(' ', 2) - 2));
  EXPECT_GE(commands.size(), 10u) << help;
  for (const std::string& command : commands) {
    EXPECT_EQ(heads.count(command), 1u) << command << " has no item in vamubase.1";
    ExpectOptionsDescribed(Output(VAMUBASE_PATH " help " + command), man, "vamubase " + command, true);
  }
}

}  // namespace
