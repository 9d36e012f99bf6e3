// The setup information file: a reader of the INF syntax that the setup
// program installs from (VamuQad.inf beside the program). Used by the setup
// program only.
//
//   [Version]                        ; section names ignore letter case
//   Signature = "$Chicago$"          ; required: the file is a Windows 4 style INF
//   [DefaultInstall]
//   CopyFiles = Vamu.Lib, Vamu.Bin   ; key = field, field, ...
//   [Vamu.Lib]
//   libkasten.so                     ; a line without a key: fields only
//   [Strings]
//   VamuDir = "%24%/opt/vamu"        ; %key% in any field is replaced from here
//
// Syntax: ';' starts a comment outside quotes; a line whose last character
// outside quotes is '\' goes on in the next line; fields are separated by ','
// and trimmed; "..." keeps commas, semicolons, '=' and blanks, and "" in it is
// one quote; "%%" is one percent sign. Sections of the same name are merged.
//
// Substitution happens when a field is read, so the setup program can add its
// own keys (the directory numbers %1% and %24%, see Define) after opening.
// A [Strings] value may use other keys. Nesting deeper than kMaxNesting, and
// any key past kMaxLookups in one substitution, is left unexpanded, so keys
// that name each other neither loop nor blow up. A key that is not defined
// is left as it stands.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct InfLine {
  int number = 0;         // line in the file where the entry starts (1-based)
  bool hasKey = false;    // "key = fields" rather than "fields"
  std::string key;        // without quotes, not substituted
  std::vector<std::string> fields;  // without quotes, not substituted
};

class CInfFile {
 public:
  // Reads and parses a file. Nothing, with a reason naming the line in
  // *error, when the file cannot be read, is larger than kMaxBytes, breaks
  // the syntax (text before the first section, an unclosed section name) or
  // has no Windows 4 style signature in [Version].
  static std::optional<CInfFile> Open(const std::string& path, std::string* error);
  static std::optional<CInfFile> Parse(std::string_view text, std::string* error);

  static constexpr std::size_t kMaxBytes = 1 << 20;
  static constexpr int kMaxNesting = 8;
  static constexpr int kMaxLookups = 4096;

  bool HasSection(std::string_view name) const;
  // The entries of a section in file order; empty for a missing section.
  const std::vector<InfLine>& Lines(std::string_view section) const;
  // The substituted fields of the first entry of `section` whose key is
  // `key`; nothing when there is none.
  std::optional<std::vector<std::string>> Fields(std::string_view section, std::string_view key) const;
  // The fields of every entry with that key, in order, joined into one list
  // ("CopyFiles = A" twice is "CopyFiles = A, B").
  std::vector<std::string> AllFields(std::string_view section, std::string_view key) const;

  // Adds or replaces a substitution key that is not taken from [Strings]
  // (numeric directory keys, values the program computes). Such keys take
  // precedence over [Strings].
  void Define(std::string_view key, std::string_view value);
  // Replaces every %key% of text; "%%" gives "%".
  std::string Substitute(std::string_view text) const;
  // Substituted copy of the fields of an entry.
  std::vector<std::string> Substituted(const InfLine& line) const;

 private:
  struct Section {
    std::string name;
    std::vector<InfLine> lines;
  };
  Section* FindSection(std::string_view name);
  // The section of that name, appended when there is none yet.
  Section& SectionNamed(const std::string& name);
  // Whether [Version] carries a Windows 4 style signature; else *error says why.
  static bool CheckSignature(const CInfFile& inf, std::string* error);
  const Section* FindSection(std::string_view name) const;
  std::optional<std::string> Lookup(std::string_view key, int depth, int* budget) const;
  std::string Expand(std::string_view text, int depth, int* budget) const;

  std::vector<Section> m_sections;
  std::map<std::string, std::string> m_defined;  // keys upper-cased
};
