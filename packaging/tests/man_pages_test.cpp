// The man pages against the programs they describe: every option that a
// program's --help (and, for vamubase, "help COMMAND") lists is described in
// its page, and every command of vamubase has an item of its own. A new
// option without a line in the man page fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
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

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// The page's text without roff's font changes and with "\-" as "-".
std::string ManText(const std::string& page) {
  std::string text = Site::ReadFile(std::string(VAMU_MAN_DIR) + "/" + page);
  for (const char* font : {"\\fB", "\\fI", "\\fR", "\\fP"}) text = ReplaceAll(text, font, "");
  return ReplaceAll(text, "\\-", "-");
}

bool IsWordChar(char c) { return std::islower(static_cast<unsigned char>(c)) || c == '-'; }

// Options a help text names: "--name" and one-letter "-x", each after a
// blank or one of "[|(,".
std::set<std::string> Options(const std::string& help) {
  std::set<std::string> options;
  for (std::size_t i = 0; i + 1 < help.size(); ++i) {
    if (help[i] != '-' || (i > 0 && std::string(" \t\n[|(,").find(help[i - 1]) == std::string::npos)) continue;
    std::size_t end = i + 1;
    if (help[end] == '-') {
      ++end;
      while (end < help.size() && (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-')) ++end;
      if (end > i + 2) options.insert(help.substr(i, end - i));
    } else if (std::islower(static_cast<unsigned char>(help[end])) &&
               (end + 1 == help.size() || !std::isalnum(static_cast<unsigned char>(help[end + 1])))) {
      options.insert(help.substr(i, 2));
    }
    i = end;
  }
  return options;
}

// Whether the text names the option as a word of its own.
bool Names(const std::string& text, const std::string& option) {
  for (std::size_t at = 0; (at = text.find(option, at)) != std::string::npos; ++at) {
    bool before = at == 0 || !IsWordChar(text[at - 1]);
    bool after = at + option.size() == text.size() || !IsWordChar(text[at + option.size()]);
    if (before && after) return true;
  }
  return false;
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
    EXPECT_TRUE(Names(man, o))
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
