#include "demo/corpus_text.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "platform/cp1250.h"

namespace vamucorpus {
namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && cp1250::IsSpace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && cp1250::IsSpace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Header lines, then the body lines; false when the file cannot be read.
// `eachField` sees every header line in order, also the repeated names of
// which `header` keeps only the first value.
bool ReadHeaderAndBody(const std::string& path, std::map<std::string, std::string>& header,
                       std::vector<std::string>& body,
                       const std::function<void(const std::string&, const std::string&)>& eachField = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  bool inBody = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (inBody) {
      body.push_back(line);
    } else if (line.empty()) {
      inBody = true;
    } else if (auto colon = line.find(": "); colon != std::string::npos) {
      std::string key = line.substr(0, colon), value = line.substr(colon + 2);
      if (eachField) eachField(key, value);
      header.emplace(std::move(key), std::move(value));  // the first value counts
    }
  }
  return inBody && !header.empty();
}

// A block whose letters are all capitals (a sub-chapter title such as "ZASADY OGÓLNE").
bool AllCapitals(const std::vector<std::string>& lines) {
  bool letters = false;
  for (const auto& l : lines)
    for (unsigned char c : l)
      if (cp1250::IsAlpha(c)) {
        if (cp1250::ToUpper(c) != c) return false;
        letters = true;
      }
  return letters;
}

bool IsHeadingStart(const std::string& line) {
  static const char* const kWords[] = {"Rozdział ", "ROZDZIAŁ ", "DZIAŁ ", "Dział ", "KSIĘGA ", "Księga ",
                                       "TYTUŁ ",    "Tytuł ",    "Oddział "};
  for (const char* w : kWords)
    if (StartsWith(line, w)) return true;
  return false;
}

// "Art. 22^1." -> "22^1"; empty when the line is not an article heading.
std::string ArticleNumber(const std::string& line) {
  if (!StartsWith(line, "Art. ") || line.size() < 7 || line.back() != '.') return {};
  return line.substr(5, line.size() - 6);
}

// Reads a run of digits at text[i]; -1 when there is none.
long Number(const std::string& text, std::size_t& i) {
  std::size_t b = i;
  while (i < text.size() && cp1250::IsDigit(static_cast<unsigned char>(text[i]))) ++i;
  return i == b ? -1 : std::strtol(text.substr(b, i - b).c_str(), nullptr, 10);
}

void SkipBlanks(const std::string& text, std::size_t& i) {
  while (i < text.size() && text[i] == ' ') ++i;
}

// A number or a range at text[i] in reference form ("5", "87-94"); the
// hyphen, en dash and minus all mark a range. Empty when there is no number.
std::string NumberOrRange(const std::string& text, std::size_t& i) {
  long first = Number(text, i);
  if (first < 0) return {};
  std::string out = std::to_string(first);
  std::size_t j = i;
  SkipBlanks(text, j);
  if (j < text.size() && (text[j] == '-' || text[j] == '\x96')) {
    ++j;
    SkipBlanks(text, j);
    long last = Number(text, j);
    if (last > first) {
      out += "-" + std::to_string(last);
      i = j;
    }
  }
  return out;
}

// One place, "art. 146 ust. 4 pkt 3", from text[i] on, in reference form;
// empty when the place cannot be written as a reference.
std::string OneLocation(const std::string& text, std::size_t& i) {
  std::string out = "ART.";
  std::string number = NumberOrRange(text, i);
  if (number.empty()) return {};
  out += number;
  if (i < text.size() && text[i] == '(') {  // art. 424(1): a superscript number
    std::size_t j = i + 1;
    long sup = Number(text, j);
    if (sup < 0 || j >= text.size() || text[j] != ')') return {};
    out += "(" + std::to_string(sup) + ")";
    i = j + 1;
  }
  if (i < text.size() && cp1250::IsAlpha(static_cast<unsigned char>(text[i]))) return {};  // art. 33a
  bool usable = true;
  int units = 0;
  for (;;) {
    std::size_t j = i;
    SkipBlanks(text, j);
    const char* word = nullptr;
    std::size_t skip = 0;
    if (text.compare(j, 4, "ust.") == 0) word = "UST", skip = 4;
    else if (text.compare(j, 4, "pkt ") == 0) word = "PKT", skip = 3;
    else if (text.compare(j, 1, "\xa7") == 0) word = "\xa7", skip = 1;
    else if (text.compare(j, 3, "zd.") == 0 || text.compare(j, 4, "lit.") == 0 || text.compare(j, 3, "in ") == 0) {
      usable = false;  // sentences and letters have no place the markers can find
      j += text[j] == 'l' ? 4 : 3;
      SkipBlanks(text, j);
      while (j < text.size() && text[j] != ',' && text[j] != ';' && text[j] != ' ') ++j;
      i = j;
      continue;
    }
    if (!word) break;
    j += skip;
    SkipBlanks(text, j);
    std::string n = NumberOrRange(text, j);
    if (n.empty()) break;
    if (j < text.size() && cp1250::IsAlpha(static_cast<unsigned char>(text[j]))) usable = false;  // ust. 1a
    out += word + n;
    ++units;
    i = j;
  }
  // Only one range per place: the markers expand one.
  if (std::count(out.begin(), out.end(), '-') > 1 || units > 3) usable = false;
  return usable ? out : std::string();
}

}  // namespace

std::size_t ActText::ArticleCount() const {
  return static_cast<std::size_t>(
      std::count_if(blocks.begin(), blocks.end(), [](const ActBlock& b) { return b.kind == ActBlock::Article; }));
}

const ActBlock* ActText::FindArticle(const std::string& number) const {
  for (const auto& b : blocks)
    if (b.kind == ActBlock::Article && b.number == number) return &b;
  return nullptr;
}

std::string RulingText::Field(const std::string& key) const {
  auto it = header.find(key);
  return it == header.end() ? std::string() : it->second;
}

int RulingText::Year() const { return std::atoi(Field("Date").c_str()); }

bool ParseJournalCitation(const std::string& text, ActRef& ref) {
  // "Dz.U. 1997 nr 78 poz. 483" or "M.P. 1997 nr 12 poz. 34"
  std::size_t i;
  if (StartsWith(text, "Dz.U. ")) ref.journal = 'D', i = 6;
  else if (StartsWith(text, "M.P. ")) ref.journal = 'M', i = 5;
  else return false;
  long year = Number(text, i);
  if (year < 1900 || text.compare(i, 4, " nr ") != 0) return false;
  i += 4;
  long number = Number(text, i);
  if (number < 0 || text.compare(i, 6, " poz. ") != 0) return false;
  i += 6;
  long position = Number(text, i);
  if (position < 1) return false;
  ref.year = static_cast<int>(year % 100);
  ref.number = static_cast<int>(number);
  ref.position = static_cast<int>(position);
  return true;
}

std::vector<std::string> ParseLocations(const std::string& list, std::vector<std::string>* cited) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while ((i = list.find("art. ", i)) != std::string::npos) {
    std::size_t start = i;
    i += 5;
    std::string location = OneLocation(list, i);
    if (cited) {
      std::size_t end = list.find_first_of(",;", i);
      cited->push_back(Trim(list.substr(start, end == std::string::npos ? std::string::npos : end - start)));
    }
    if (!location.empty() && std::find(out.begin(), out.end(), location) == out.end()) out.push_back(location);
  }
  return out;
}

bool ReadAct(const std::string& path, ActText& act) {
  std::map<std::string, std::string> header;
  std::vector<std::string> body;
  if (!ReadHeaderAndBody(path, header, body)) return false;
  act.title = header["Title"];
  act.textVersion = header["Text-version"];
  if (!ParseJournalCitation(header["Journal"], act.ref)) return false;
  // Blocks are separated by empty lines.
  bool structureSeen = false;
  std::vector<std::string> lines;
  auto flush = [&] {
    if (lines.empty()) return;
    ActBlock b;
    std::string number = ArticleNumber(lines[0]);
    if (!number.empty()) {
      b.kind = ActBlock::Article;
      b.number = number;
      b.lines.assign(lines.begin() + 1, lines.end());
      structureSeen = true;
    } else if (IsHeadingStart(lines[0]) || (structureSeen && AllCapitals(lines))) {
      b.kind = ActBlock::Heading;
      b.lines = lines;
      structureSeen = true;
    } else {
      b.lines = lines;
    }
    act.blocks.push_back(std::move(b));
    lines.clear();
  };
  for (const auto& line : body) {
    if (Trim(line).empty()) flush();
    else lines.push_back(line);
  }
  flush();
  return act.ArticleCount() > 0;
}

bool ReadRuling(const std::string& path, RulingText& ruling) {
  // "Concerns" repeats: each one names an act and the places cited in it.
  auto concerns = [&ruling](const std::string& key, const std::string& value) {
    if (key != "Concerns") return;
    // "... (Dz. U. z 1997 r. Nr 78 poz. 483 - art. 146 ust. 3, art. 153)"
    std::size_t at = value.rfind("(Dz. U. z ");
    if (at == std::string::npos) return;
    std::size_t i = at + 10;
    Concern c;
    long year = Number(value, i);
    if (year < 1900 || value.compare(i, 7, " r. Nr ") != 0) return;
    i += 7;
    long number = Number(value, i);
    if (number < 0) return;
    if (value.compare(i, 1, ",") == 0) ++i;
    if (value.compare(i, 6, " poz. ") != 0) return;
    i += 6;
    long position = Number(value, i);
    if (position < 1) return;
    c.act = ActRef{'D', static_cast<int>(year % 100), static_cast<int>(number), static_cast<int>(position)};
    std::string list = value.substr(i);
    if (!list.empty() && list.back() == ')') list.pop_back();  // the bracket the citation opened
    c.locations = ParseLocations(list, &c.cited);
    ruling.concerns.push_back(std::move(c));
  };
  if (!ReadHeaderAndBody(path, ruling.header, ruling.lines, concerns)) return false;
  ruling.file = path.substr(path.find_last_of('/') + 1);
  return true;
}

std::vector<std::string> TextFilesIn(const std::string& dir) {
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".txt") == 0) files.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace vamucorpus
