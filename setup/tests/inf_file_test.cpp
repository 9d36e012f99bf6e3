// The reader of the information file: syntax, substitution, damaged input.
#include "setup/inf_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "platform/paths.h"

namespace {

using Fields = std::vector<std::string>;

CInfFile Parse(const std::string& body) {
  std::string why;
  auto inf = CInfFile::Parse("[Version]\nSignature=\"$Chicago$\"\n" + body, &why);
  EXPECT_TRUE(inf) << why;
  return inf ? std::move(*inf) : CInfFile();
}

std::string ParseError(const std::string& text) {
  std::string why;
  auto inf = CInfFile::Parse(text, &why);
  EXPECT_FALSE(inf) << text;
  return why;
}

TEST(InfSyntax, SectionAndKeyNamesIgnoreLetterCase) {
  CInfFile inf = Parse("[defaultINSTALL]\ncopyfiles = Vamu.Lib\n");
  EXPECT_TRUE(inf.HasSection("DefaultInstall"));
  EXPECT_EQ(inf.Fields("DefaultInstall", "CopyFiles"), Fields{"Vamu.Lib"});
  EXPECT_FALSE(inf.Fields("DefaultInstall", "AddReg"));
  EXPECT_FALSE(inf.HasSection("FullInstall"));
}

TEST(InfSyntax, SectionsOfOneNameMergeAndRepeatedKeysJoin) {
  CInfFile inf = Parse("[A]\nCopyFiles = X\n[B]\nk = 1\n[a]\ncopyFiles = Y, Z\n");
  EXPECT_EQ(inf.Lines("A").size(), 2u);
  EXPECT_EQ(inf.AllFields("A", "CopyFiles"), (Fields{"X", "Y", "Z"}));
  EXPECT_EQ(inf.Fields("A", "CopyFiles"), Fields{"X"});
}

TEST(InfSyntax, FieldsAreTrimmedAndMayBeEmpty) {
  CInfFile inf = Parse("[S]\n  a ,, b c  ,\t\n");
  ASSERT_EQ(inf.Lines("S").size(), 1u);
  const InfLine& line = inf.Lines("S")[0];
  EXPECT_FALSE(line.hasKey);
  EXPECT_EQ(line.fields, (Fields{"a", "", "b c", ""}));
  EXPECT_EQ(line.number, 4);
}

TEST(InfSyntax, ContinuationJoinsLines) {
  CInfFile inf = Parse("[S]\nCopyFiles = A, \\\n   B, \\  \r\n C\nNext = 1\n");
  EXPECT_EQ(inf.Fields("S", "CopyFiles"), (Fields{"A", "B", "C"}));
  EXPECT_EQ(inf.Fields("S", "Next"), Fields{"1"});
  EXPECT_EQ(inf.Lines("S")[1].number, 7);
  // A backslash inside a line, or closing a quoted field, is text.
  CInfFile paths = Parse("[R]\nHKLM, Software\\Kolm\\Vamu Server, \"End\\\"\nafter\n");
  EXPECT_EQ(paths.Lines("R")[0].fields, (Fields{"HKLM", "Software\\Kolm\\Vamu Server", "End\\"}));
  EXPECT_EQ(paths.Lines("R").size(), 2u);
  // A continuation on the last line ends with the file.
  EXPECT_EQ(Parse("[S]\nk = a, \\").Fields("S", "k"), (Fields{"a", ""}));
}

TEST(InfSyntax, QuotesKeepSeparatorsBlanksAndDoubledQuotes) {
  CInfFile inf = Parse("[S]\nk = \"a, b; c = d\", \"  padded  \", \"say \"\"hi\"\"\", x \"y\" z\n");
  EXPECT_EQ(inf.Fields("S", "k"), (Fields{"a, b; c = d", "  padded  ", "say \"hi\"", "x y z"}));
  CInfFile key = Parse("[S]\n\"a=b\" = c\n");
  EXPECT_EQ(key.Fields("S", "a=b"), Fields{"c"});
  // An unclosed quote ends with its line.
  CInfFile open = Parse("[S]\nk = \"open, still\nnext = 2\n");
  EXPECT_EQ(open.Fields("S", "k"), Fields{"open, still"});
  EXPECT_EQ(open.Fields("S", "next"), Fields{"2"});
}

TEST(InfSyntax, CommentsEndLinesOutsideQuotes) {
  CInfFile inf = Parse("; heading\n[S] ; about S\n  ; indented\nk = v ; why\nq = \"a;b\"\n");
  EXPECT_EQ(inf.Lines("S").size(), 2u);
  EXPECT_EQ(inf.Fields("S", "k"), Fields{"v"});
  EXPECT_EQ(inf.Fields("S", "q"), Fields{"a;b"});
}

TEST(InfSyntax, OnlyWindows4StyleFilesOpen) {
  EXPECT_NE(ParseError("[Strings]\nx=1\n").find("Signature"), std::string::npos);
  EXPECT_NE(ParseError("[Version]\nSignature=$Linux$\n").find("$Linux$"), std::string::npos);
  std::string why;
  EXPECT_TRUE(CInfFile::Parse("[version]\nsignature=\"$windows nt$\"\n", &why));
  EXPECT_TRUE(CInfFile::Parse("[Version]\nSignature=$Chicago$\n", &why));
}

TEST(InfSyntax, ABracketOpensASectionOnlyBeforeAnythingElse) {
  // Continued from an entry, "[T]" is a field of that entry.
  CInfFile inside = Parse("[S]\nk = a, \\\n[T]\nm = 1\n");
  EXPECT_EQ(inside.Fields("S", "k"), (Fields{"a", "[T]"}));
  EXPECT_EQ(inside.Fields("S", "m"), Fields{"1"});
  EXPECT_FALSE(inside.HasSection("T"));
  // A line holding only the mark starts an entry: "[T]" below it is a field.
  CInfFile mark = Parse("[S]\n \\\n[T]\nm = 1\n");
  ASSERT_EQ(mark.Lines("S").size(), 2u);
  EXPECT_EQ(mark.Lines("S")[0].fields, Fields{"[T]"});
  EXPECT_EQ(mark.Lines("S")[0].number, 4);
  EXPECT_FALSE(mark.HasSection("T"));
  // An entry is numbered by its first line past blanks and comments.
  CInfFile numbered = Parse("[S]\n\n  ; c\n  k = 1, \\\n 2\n");
  ASSERT_EQ(numbered.Lines("S").size(), 1u);
  EXPECT_EQ(numbered.Lines("S")[0].number, 6);
  EXPECT_EQ(numbered.Fields("S", "k"), (Fields{"1", "2"}));
  EXPECT_EQ(ParseError("\n; c\nk=1, \\\n2\n[Version]\nSignature=$Chicago$\n"), "line 3: entry before the first section");
}

TEST(InfSyntax, BrokenStructureNamesTheLine) {
  EXPECT_EQ(ParseError("CopyFiles = X\n[Version]\nSignature=$Chicago$\n"), "line 1: entry before the first section");
  EXPECT_EQ(ParseError("[Version]\nSignature=$Chicago$\n\n[Strings\n"), "line 4: section name without ']'");
}

TEST(InfSubstitution, StringKeysAreReplacedIgnoringCase) {
  CInfFile inf = Parse("[S]\nk = %vamudir%/lib, 100%%, %Nope%, 50% off\n[Strings]\nVamuDir = \"/opt/vamu\"\n");
  EXPECT_EQ(inf.Fields("S", "k"), (Fields{"/opt/vamu/lib", "100%", "%Nope%", "50% off"}));
  EXPECT_EQ(inf.Substitute("%VAMUDIR%%vamudir%"), "/opt/vamu/opt/vamu");
  EXPECT_EQ(inf.Substitute("a%b%VamuDir%"), "a%b/opt/vamu");
}

TEST(InfSubstitution, ProgramKeysAndNestedStrings) {
  CInfFile inf = Parse("[Strings]\nVamuDir = \"%24%/opt/vamu\"\nSiteDir = %VamuDir%/site\nRoot = \"from strings\"\n");
  EXPECT_EQ(inf.Substitute("%SiteDir%"), "%24%/opt/vamu/site") << "directory numbers are the program's";
  inf.Define("24", "/tmp/root");
  inf.Define("root", "defined");
  EXPECT_EQ(inf.Substitute("%SiteDir%|%Root%"), "/tmp/root/opt/vamu/site|defined");
  inf.Define("24", "");
  EXPECT_EQ(inf.Substitute("%SiteDir%"), "/opt/vamu/site");
}

TEST(InfSubstitution, KeysThatNameEachOtherEnd) {
  CInfFile loop = Parse("[Strings]\nA = \"<%B%>\"\nB = \"(%A%)\"\nSelf = %Self%\n");
  std::string a = loop.Substitute("%A%");
  EXPECT_EQ(a.rfind("<(<(", 0), 0u) << a;
  EXPECT_NE(loop.Substitute("%Self%").find("%Self%"), std::string::npos);

  // Ten references on each of ten levels would be 10^10 expansions.
  std::string strings = "[Strings]\n";
  for (int level = 0; level < 10; ++level) {
    strings += "K" + std::to_string(level) + " = \"";
    for (int i = 0; i < 10; ++i) strings += "%K" + std::to_string(level + 1) + "%";
    strings += "\"\n";
  }
  strings += "K10 = \"0123456789012345678901234567890123456789\"\n";
  CInfFile wide = Parse(strings);
  auto start = std::chrono::steady_clock::now();
  std::string out = wide.Substitute("%K0%");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_LE(out.size(), 2 * CInfFile::kMaxBytes);
}

TEST(InfFileOpen, MissingTooLargeAndDirectoryFail) {
  std::string why;
  EXPECT_FALSE(CInfFile::Open("/nonexistent/VamuQad.inf", &why));
  EXPECT_NE(why.find("/nonexistent/VamuQad.inf"), std::string::npos);
  EXPECT_FALSE(CInfFile::Open(TempDirectory(), &why));

  auto path = CreateTempFile(TempDirectory());
  ASSERT_TRUE(path);
  std::string big = "[Version]\nSignature=$Chicago$\n;" + std::string(CInfFile::kMaxBytes, 'x') + "\n";
  FILE* f = std::fopen(path->c_str(), "wb");
  std::fwrite(big.data(), 1, big.size(), f);
  std::fclose(f);
  EXPECT_FALSE(CInfFile::Open(*path, &why));
  std::remove(path->c_str());
}

TEST(InfFileOpen, ArbitraryBytesNeverCrash) {
  std::mt19937 random(1250);
  const std::string alphabet = "[]=,;\"%\\\n\r\t aZ09\xb9";
  for (int round = 0; round < 2000; ++round) {
    std::string text = round % 2 ? "[Version]\nSignature=$Chicago$\n" : "";
    std::size_t n = random() % 600;
    for (std::size_t i = 0; i < n; ++i)
      text += round % 3 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    std::string why;
    if (auto inf = CInfFile::Parse(text, &why)) {
      for (const char* s : {"Version", "Strings", "S", "["})
        for (const InfLine& line : inf->Lines(s)) inf->Substituted(line);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}

}  // namespace
