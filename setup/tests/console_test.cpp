// The terminal: the messages' bytes, their conversion, and the questions.
#include "setup/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "setup/setup_texts.h"

namespace {

// "zażółć gęślą jaźń ZAŻÓŁĆ GĘŚLĄ JAŹŃ" in windows-1250 and in UTF-8.
const std::string kPolish1250 =
    "za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1 ZA\xaf\xd3\xa3\xc6 G\xca\x8cL\xa5 JA\x8f\xd1";
const std::string kPolishUtf8 = "zażółć gęślą jaźń ZAŻÓŁĆ GĘŚLĄ JAŹŃ";

TEST(TerminalText, ConvertsWindows1250ToTheTerminalsCharacterSet) {
  CConsole utf8("UTF-8", stdin, stdout);
  EXPECT_EQ(utf8.ToTerminal(kPolish1250), kPolishUtf8);
  CConsole latin2("ISO-8859-2", stdin, stdout);
  EXPECT_EQ(latin2.ToTerminal("\xb9\x9c"), "\xb1\xb6");  // ą ś
  CConsole ascii("ANSI_X3.4-1968", stdin, stdout);
  std::string shown = ascii.ToTerminal(kPolish1250);
  EXPECT_EQ(shown.size() >= 8 ? shown.substr(0, 2) : "", "za");
  for (char c : shown) EXPECT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << shown;
}

TEST(TerminalText, UndefinedBytesAndUnknownCharacterSets) {
  CConsole utf8("UTF-8", stdin, stdout);
  EXPECT_EQ(utf8.ToTerminal("a\x81" "b\x98" "c"), "a?b?c");  // bytes windows-1250 leaves undefined
  CConsole unknown("NO-SUCH-CHARSET-1250", stdin, stdout);
  EXPECT_EQ(unknown.ToTerminal(kPolish1250), kPolish1250);
  std::string big(100000, '\xb9');
  EXPECT_EQ(utf8.ToTerminal(big).size(), 200000u);
}

// The program's texts are windows-1250 bytes, exactly these.
TEST(TerminalText, ProgramTextsAreTheSystemsOwn) {
  using namespace setup_texts;
  CConsole utf8("UTF-8", stdin, stdout);
  EXPECT_EQ(std::string(kCopyTexts), "Czy kopiowa\xe6 tak\xbf" "e teksty akt\xf3w (%s)?");
  const std::pair<const char*, const char*> texts[] = {
      {kCaptionInstall, "Instalacja Vamu Qad'98 BETA 3"},
      {kCaptionSetup, "Setup Vamu Qad'98 BETA 3"},
      {kNeedSystem, "Aby uruchomić serwis Vamu Qad'97 musisz mieć\nLinux z jądrem 3.10 lub nowszym"},
      {kNeedWebService, "Musisz najpierw zainstalować serwis WWW (nginx).\nWięcej szczegółów w pliku README.md"},
      {kNoInfFile, "Nie można znaleźć pliku %s\nInstalacja zakończona niepomyślnie"},
      {kCopyTextsUnsized, "Czy kopiować także teksty aktów?"},
      {kNoMemory, "Brak pamięci do przeprowadzenia instalacji"},
      {kIncomplete, "Instalacja nie jest kompletna!"},
      {kFirstStart,
       "Uwaga: Przy pierwszym uruchomieniu Vamu Qad'98\ndokonuje autokonfiguracji.\n\nPrzy starszych komputerach "
       "może to potrwać\nkilka minut"},
      {kFinished,
       "Zakończono instalację serwera aktów normatywnych Vamu Qad'98\nAby serwer działał poprawnie należy ponownie "
       "uruchomić serwis WWW (nginx i vamufcgi).\nCzy zrobić to teraz?"},
  };
  for (const auto& [text, utf8Text] : texts) EXPECT_EQ(utf8.ToTerminal(text), utf8Text);
}

// A console on memory: answers from `input`, everything shown in `shown`.
class Terminal {
 public:
  explicit Terminal(const std::string& input) : input_(input) {
    in_ = fmemopen(input_.data(), input_.size(), "r");
    if (input_.empty()) in_ = std::fopen("/dev/null", "r");
    out_ = open_memstream(&buf_, &size_);
    console_ = std::make_unique<CConsole>("UTF-8", in_, out_);
  }
  ~Terminal() {
    console_.reset();
    std::fclose(in_);
    std::fclose(out_);
    std::free(buf_);
  }
  CConsole& console() { return *console_; }
  std::string shown() {
    std::fflush(out_);
    return std::string(buf_, size_);
  }
  std::string rest() {
    std::string r;
    for (int c; (c = std::fgetc(in_)) != EOF;) r += static_cast<char>(c);
    return r;
  }

 private:
  std::string input_;
  std::FILE* in_;
  std::FILE* out_;
  char* buf_ = nullptr;
  std::size_t size_ = 0;
  std::unique_ptr<CConsole> console_;
};

TEST(Questions, EmptyLineTakesTheDefaultJunkAsksAgain) {
  Terminal t("\nmaybe\n" + std::string(1000, 'x') + "\n tak \n");
  EXPECT_EQ(t.console().Ask("Pytanie?", true, Answer::No, std::nullopt), Answer::No);
  EXPECT_EQ(t.console().Ask("Drugie?", true, Answer::No, std::nullopt), Answer::Yes);
  std::string shown = t.shown();
  EXPECT_NE(shown.find("Pytanie?\n[Tak/Nie/Anuluj] (Nie): "), std::string::npos) << shown;
  std::size_t prompts = 0;
  for (std::size_t at = shown.find("(Nie): "); at != std::string::npos; at = shown.find("(Nie): ", at + 1)) ++prompts;
  EXPECT_EQ(prompts, 4u) << "asked again after each of the two lines that were no answer";
}

TEST(Questions, EndOfInputAgreesToNothing) {
  Terminal withCancel("");
  EXPECT_EQ(withCancel.console().Ask("Q", true, Answer::No, std::nullopt), Answer::Cancel);
  Terminal yesNo("");
  EXPECT_EQ(yesNo.console().Ask("Q", false, Answer::Yes, std::nullopt), Answer::No);
  Terminal cancelNotOffered("a\n");
  EXPECT_EQ(cancelNotOffered.console().Ask("Q", false, Answer::Yes, std::nullopt), Answer::No);
}

TEST(Questions, PresetAnswerReadsNothingAndIsShown) {
  Terminal t("n\n");
  EXPECT_EQ(t.console().Ask("Q", true, Answer::No, Answer::Yes), Answer::Yes);
  EXPECT_EQ(t.rest(), "n\n");
  EXPECT_NE(t.shown().find("(Nie): Tak\n"), std::string::npos) << t.shown();
}

TEST(Questions, AnswerWords) {
  EXPECT_EQ(ParseAnswer(" TAK\r\n", true), Answer::Yes);
  EXPECT_EQ(ParseAnswer("y", false), Answer::Yes);
  EXPECT_EQ(ParseAnswer("No", true), Answer::No);
  EXPECT_EQ(ParseAnswer("anuluj", true), Answer::Cancel);
  EXPECT_EQ(ParseAnswer("C", true), Answer::Cancel);
  EXPECT_FALSE(ParseAnswer("anuluj", false));
  EXPECT_FALSE(ParseAnswer("", true));
  EXPECT_FALSE(ParseAnswer("tak!", true));
}

TEST(Messages, CaptionThenTextPathUnconverted) {
  Terminal t("");
  t.console().Message("B\xb3\xb9" "d", "Tytu\xb3");
  t.console().MessageWithPath("Nie ma %s!", "/tmp/\xc5\x82.inf");  // the path's bytes as they are
  EXPECT_EQ(t.shown(), "Tytuł\nBłąd\n\nNie ma /tmp/ł.inf!\n\n");
}

TEST(Messages, CodesetOfLocaleNames) {
  EXPECT_EQ(CodesetOfLocaleName("pl_PL.UTF-8"), "UTF-8");
  EXPECT_EQ(CodesetOfLocaleName("pl_PL.ISO-8859-2@euro"), "ISO-8859-2");
  EXPECT_FALSE(CodesetOfLocaleName("C"));
  EXPECT_FALSE(CodesetOfLocaleName("pl_PL."));
}

TEST(TerminalText, SizesInPolishStyle) {
  using setup_texts::SizeText;
  EXPECT_EQ(SizeText(0), "0 kB");
  EXPECT_EQ(SizeText(1), "1 kB");
  EXPECT_EQ(SizeText(1024), "1 kB");
  EXPECT_EQ(SizeText(1025), "2 kB");
  EXPECT_EQ(SizeText(512 * 1024), "512 kB");
  EXPECT_EQ(SizeText(1024 * 1024 - 1), "1024 kB");
  EXPECT_EQ(SizeText(1024 * 1024), "1,0 MB");
  EXPECT_EQ(SizeText(4608 * 1024), "4,5 MB");             // 4.5 MB
  EXPECT_EQ(SizeText(10 * 1024 * 1024 - 1), "10,0 MB");   // rounds to ten tenths
  EXPECT_EQ(SizeText(10 * 1024 * 1024), "10 MB");
  EXPECT_EQ(SizeText(130 * 1024 * 1024 + 600 * 1024), "131 MB");
}

}  // namespace
