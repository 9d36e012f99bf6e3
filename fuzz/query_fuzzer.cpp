// The word-query language on a fixed base: the parser and the evaluator of
// CDocServer::FindFirstDoc, against a model of the language written here.
//
// Input: a query, as the Search page hands it on.
//
// The base holds sixteen small documents made from a fixed vocabulary (mixed
// letter case, Polish letters, numbers, stop words). The model knows their
// words from the text it wrote, and evaluates the query as the language is
// described: the query upper-cased, its quoted phrases taken out (their words
// joined by "I", an unclosed quote running to the end); then, left to right,
// words (letters, digits, '*', '?') are alternatives, "I" and "NIE" take the
// next token as operand (a number, or two bytes or more and no stop word),
// "(" groups up to its ")", "LUB" standing alone is skipped, groups deeper
// than 64 find nothing; a term without wildcards is one word, with wildcards
// the words chosen by their fixed beginning (or, for a leading wildcard, their
// fixed end, or all words when both ends are wildcards) that pass the pattern
// test; last, the documents must hold every phrase, byte by byte, a letter
// matching its other case.
//
// Properties: FindFirstDoc finds exactly the model's documents, in order,
// and the handle hands them out one by one; FindDocs finds the same, or
// refuses a query over its budget, which then finds nothing.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "concorda/word_query.h"
#include "concorda/word_tokenizer.h"
#include "fuzz/fuzz_support.h"
#include "platform/cp1250.h"

namespace {

using Items = std::vector<DWORD>;

const char* const kVocabulary[] = {
    "ustawa", "USTAWY", "Ustawie", "kodeks", "KODEKSU", "karny", "karnego", "sąd", "SĄDU", "sądowi",
    "prawo", "prawa", "prawie", "zawiadawa", "ZAWIADAMIA", "art", "Art", "1997", "2000", "05", "5",
    "lub", "nie", "i", "w", "na", "oraz", "kasacja", "skargi", "kasacyjnej", "oddalenie", "wyrok",
    "Trybunał", "Konstytucyjny", "Rzeczpospolita", "ŁÓDŹ", "źródło", "Żyrardów", "USTAWA", "awa",
    "kawa", "zawa", "ab", "abc", "abcd", "x", "zażalenie", "postanowienie", "blisko", "dz", "u",
};
constexpr int kDocuments = 16;
const char* const kSeparators[] = {" ", " ", " ", ". ", ", ", "\r\n", "-", "  ", "; "};

struct Base {
  std::vector<std::string> texts;
  std::vector<std::set<std::string>> words;  // per document, upper-cased and admitted
  std::set<std::string> vocabulary;
  CDocServer server;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(cp1250::ToUpper(static_cast<unsigned char>(c)));
  return s;
}

bool IsDigits(const std::string& w) {
  return !w.empty() && std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Which words the index takes: numbers at any length; a word that starts
// with a digit otherwise not; nor single bytes and stop words.
bool Admitted(const std::string& w) {
  if (w.empty()) return false;
  if (w[0] >= '0' && w[0] <= '9') return IsDigits(w);
  return w.size() > 1 && !concorda::IsStopWord(w);
}

bool WordByte(unsigned char c) { return cp1250::IsAlnum(c); }

Base& TheBase() {
  static Base* base = [] {
    auto* b = new Base;
    std::uint32_t x = 12345;
    auto next = [&x](std::uint32_t n) {
      x = x * 1664525u + 1013904223u;
      return (x >> 8) % n;
    };
    const std::string path = fuzz::ScratchDir() + "/query.vq";
    std::filesystem::remove(path);
    GUID guid{7, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};
    CDocServer writer;
    FUZZ_REQUIRE(writer.Init(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite), "cannot create the base");
    for (int d = 0; d < kDocuments; ++d) {
      std::string text;
      std::set<std::string> words;
      const int n = 3 + static_cast<int>(next(20));
      for (int k = 0; k < n; ++k) {
        std::string w = kVocabulary[next(sizeof kVocabulary / sizeof kVocabulary[0])];
        text += w;
        text += kSeparators[next(sizeof kSeparators / sizeof kSeparators[0])];
        if (Admitted(Upper(w))) words.insert(Upper(w));
      }
      CMemFile file(4096);
      file.Write(text.data(), static_cast<UINT>(text.size()));
      file.SeekToBegin();
      _FILEITEM* item = MakeFileItem(("D" + std::to_string(d) + ".HTM").c_str());
      writer.AddFile(file, item, "", 2);
      CFileServer::FreeFileItem(item);
      b->texts.push_back(text);
      b->vocabulary.insert(words.begin(), words.end());
      b->words.push_back(std::move(words));
    }
    writer.Close();
    FUZZ_REQUIRE(b->server.Init(path.c_str(), nullptr, CFile::modeRead), "cannot open the base");
    return b;
  }();
  return *base;
}

// --- the model ---------------------------------------------------------------

bool TokenByte(unsigned char c) { return WordByte(c) || c == '*' || c == '?'; }

std::string_view NextToken(std::string_view& rest) {
  for (;;) {
    std::size_t i = 0;
    while (i < rest.size() && !TokenByte(static_cast<unsigned char>(rest[i])) && rest[i] != '(') ++i;
    rest.remove_prefix(i);
    if (rest.substr(0, 3) == "LUB" && (rest.size() == 3 || !WordByte(static_cast<unsigned char>(rest[3])))) {
      rest.remove_prefix(3);
      continue;
    }
    break;
  }
  if (rest.empty()) return rest;
  if (rest[0] == '(') {
    int open = 0;
    std::size_t i = 0;
    for (; i < rest.size(); ++i) {
      if (rest[i] == '(') ++open;
      if (rest[i] == ')' && --open == 0) break;
    }
    std::string_view group = rest.substr(0, i);
    rest.remove_prefix(std::min(rest.size(), i + 1));
    return group;
  }
  std::size_t n = 0;
  while (n < rest.size() && TokenByte(static_cast<unsigned char>(rest[n]))) ++n;
  std::string_view t = rest.substr(0, n);
  rest.remove_prefix(n);
  return t;
}

bool Operand(std::string_view t) {
  if (t.empty()) return false;
  if (t[0] >= '0' && t[0] <= '9') return true;
  return t.size() > 1 && !concorda::IsStopWord(t);
}

// '?' one byte; a run of '*' and the '?' after it jump to the first
// occurrence of the next literal byte; a used-up pattern matches the rest.
bool Matches(std::string_view p, std::string_view w) {
  std::size_t i = 0, j = 0;
  while (i < p.size()) {
    if (p[i] == '?') {
      if (j >= w.size()) return false;
      ++i, ++j;
      continue;
    }
    if (p[i] == '*') {
      while (i < p.size() && (p[i] == '*' || p[i] == '?')) {
        if (p[i] == '?') {
          if (j >= w.size()) return false;
          ++j;
        }
        ++i;
      }
      if (i == p.size()) return true;
      j = w.find(p[i], j);
      if (j == std::string_view::npos) return false;
    }
    if (j >= w.size() || p[i] != w[j]) return false;
    ++i, ++j;
  }
  return true;
}

std::set<std::string> TermWords(const Base& b, const std::string& term) {
  std::set<std::string> out;
  const std::size_t first = term.find_first_of("*?"), last = term.find_last_of("*?");
  if (first == std::string::npos) {
    if (b.vocabulary.count(term)) out.insert(term);
    return out;
  }
  const std::string prefix = term.substr(0, first), suffix = term.substr(last + 1);
  for (const auto& w : b.vocabulary) {
    bool chosen = first > 0 ? w.compare(0, prefix.size(), prefix) == 0
                : last + 1 < term.size() ? w.size() >= suffix.size() &&
                                               w.compare(w.size() - suffix.size(), suffix.size(), suffix) == 0
                                         : true;
    if (chosen && Matches(term, w)) out.insert(w);
  }
  return out;
}

Items Evaluate(const Base& b, std::string_view text, int depth) {
  std::set<DWORD> r;
  if (depth > 64) return {};
  std::string_view rest = text;
  auto termItems = [&](const std::string& term) {
    std::set<DWORD> s;
    std::set<std::string> words = TermWords(b, term);
    for (DWORD d = 0; d < b.words.size(); ++d)
      for (const auto& w : words)
        if (b.words[d].count(w)) s.insert(d);
    return s;
  };
  for (;;) {
    std::string_view t = NextToken(rest);
    if (t.empty()) break;
    if (t == "NIE" || t == "I") {
      std::string_view operand = NextToken(rest);
      if (!Operand(operand)) continue;
      Items s = Evaluate(b, operand, depth + 1);
      std::set<DWORD> out;
      for (DWORD d : r)
        if ((t == "I") == std::binary_search(s.begin(), s.end(), d)) out.insert(d);
      r.swap(out);
    } else if (t[0] == '(') {
      for (DWORD d : Evaluate(b, t.substr(1), depth + 1)) r.insert(d);
    } else if (Operand(t)) {
      for (DWORD d : termItems(std::string(t))) r.insert(d);
    }
  }
  return Items(r.begin(), r.end());
}

unsigned char Partner(unsigned char p) {
  if (p >= 0x7B) {
    unsigned char up = cp1250::ToUpper(p);
    return up != p ? up : cp1250::ToLower(p);
  }
  return p >= 0x5B ? p - 0x20 : p + 0x20;
}

bool HoldsPhrase(const std::string& text, const std::string& phrase) {
  if (phrase.empty()) return !text.empty();
  for (std::size_t i = 0; i + phrase.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < phrase.size()) {
      unsigned char p = phrase[k], c = text[i + k];
      if (c != p && c != Partner(p)) break;
      ++k;
    }
    if (k == phrase.size()) return true;
  }
  return false;
}

Items Model(const Base& b, const std::string& query) {
  std::string q = Upper(query);
  std::string text;
  std::vector<std::string> phrases;
  for (std::size_t i = 0; i < q.size();) {
    if (q[i] != '"') {
      text += q[i++];
      continue;
    }
    std::size_t end = q.find('"', i + 1);
    std::string phrase = q.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    phrases.push_back(phrase);
    // The phrase's words, joined by the conjunction.
    std::string joined;
    std::size_t k = 0;
    while (k < phrase.size() && cp1250::IsSpace(static_cast<unsigned char>(phrase[k]))) joined += phrase[k++];
    for (; k < phrase.size(); ++k) {
      joined += phrase[k];
      if (cp1250::IsSpace(static_cast<unsigned char>(phrase[k]))) joined += "I ";
    }
    text += joined;
    i = end == std::string::npos ? q.size() : end + 1;
  }
  Items r = Evaluate(b, text, 0);
  if (phrases.empty()) return r;
  Items kept;
  for (DWORD d : r)
    if (std::all_of(phrases.begin(), phrases.end(), [&](const std::string& p) { return HoldsPhrase(b.texts[d], p); }))
      kept.push_back(d);
  return kept;
}

std::string Show(const Items& items) {
  std::string s;
  for (DWORD d : items) s += std::to_string(d) + " ";
  return "{" + s + "}";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (fuzz::QuietMessages(), true);
  (void)quiet;
  Base& b = TheBase();
  const std::string query(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));

  WORD first = 0xFFFF;
  CDocServer::FindHandle* h = b.server.FindFirstDoc(query.c_str(), &first, nullptr);
  Items got;
  if (h != CDocServer::NoFind()) {
    FUZZ_REQUIRE(CDocServer::GetFindItems(h) > 0, "a handle without items");
    got.push_back(first);
    WORD next;
    while (CDocServer::FindNextDoc(h, &next)) got.push_back(next);
  }
  // A query over its budget (concorda::QueryLimits) is refused as a whole:
  // nothing found, and no model of the limits here.
  concorda::CQueryBudget budget;
  CWordQuery prepared(query.c_str(), budget);
  Items items;
  if (!b.server.FindDocs(prepared, items)) {
    FUZZ_REQUIRE(got.empty() && items.empty(), "a refused query " + fuzz::Shown(query) + " found something");
    return 0;
  }
  FUZZ_REQUIRE(items == got, "FindDocs and FindFirstDoc disagree on " + fuzz::Shown(query));
  // Queries with the proximity word are left to their own model, and so are
  // queries with the markers of all forms (~) and of letters without their
  // marks (^): what they match depends on the dictionary and the fold table,
  // which their own tests compare with a scan; this model knows neither.
  if (Upper(query).find("BLISKO") != std::string::npos) return 0;
  if (query.find_first_of("~^") != std::string::npos) return 0;
  const Items expected = Model(b, query);
  FUZZ_REQUIRE(got == expected, "the query " + fuzz::Shown(query) + " finds " + Show(got) + ", the language " +
                                    Show(expected));
  return 0;
}
