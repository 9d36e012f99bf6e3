// vamudemo: turns the real acts and rulings of demo/corpus into the documents
// of the demo bases, in the markup the site reads. Writes, below --out:
//   acts/     the acts (one document per version), their rulings lists
//   rulings/  the rulings
//   toc/      the contents files of the contents tree ("SPIS<NAME>.TOC")
//   keys.txt  "FILE<TAB>KEY;KEY" for vamubase build --keys
//   acts.list, rulings.list, toc.list: the files of each base in the order
//             they are to be stored (versions of an act oldest first, so an
//             ".ATT" reference without rank shows the newest)
// demo/build-demo.sh then builds the bases with vamubase.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "demo/act_name.h"
#include "demo/corpus_text.h"
#include "demo/doc_markup.h"

using namespace vamucorpus;

namespace {

// The related-acts groups: acts of one group share a key, which the
// "Powiązane" button lists.
struct Placement {
  const char* file;      // corpus file name without ".txt"
  const char* related;   // the shared key
  const char* contents;  // the contents file (subject) the act is listed in
};
constexpr Placement kPlacements[] = {
    {"konstytucja", "PRAWOPUBLICZNE", "KONSTYTUCJA"},
    {"kodeks_karny", "PRAWOPUBLICZNE", "KARNE"},
    {"kodeks_postepowania_administracyjnego", "PRAWOPUBLICZNE", "ADMINISTRACYJNE"},
    {"kodeks_cywilny", "PRAWOCYWILNE", "CYWILNE"},
    {"kodeks_postepowania_cywilnego", "PRAWOCYWILNE", "CYWILNE"},
    {"uokik", "PRAWOCYWILNE", "GOSPODARCZE"},
};

struct Subject {
  const char* file;
  const char* caption;
};
constexpr Subject kSubjects[] = {
    {"KONSTYTUCJA", "Prawo konstytucyjne"}, {"CYWILNE", "Prawo cywilne"},
    {"KARNE", "Prawo karne"},               {"ADMINISTRACYJNE", "Prawo administracyjne"},
    {"GOSPODARCZE", "Prawo gospodarcze"},
};

struct Act {
  std::string stem;
  ActText text;
  const Placement* placement = nullptr;
  std::vector<std::pair<ActRef, ActText>> versions;  // oldest first
  std::vector<RulingsListEntry> rulings;
  std::string CurrentDocName() const { return text.ref.DocName(versions.back().first); }
};

// The Konstytucja is stored in three versions. The corpus holds its text as
// amended in 2006 (art. 55) and 2009 (art. 99 ust. 3). The 2009 amendment
// only added art. 99 ust. 3, so the text after the 2006 amendment is the
// corpus text without it. The first text had another art. 55, which the
// corpus does not hold: the first-text document says so in its place
// rather than make a wording up.
void AddConstitutionVersions(Act& act) {
  const ActRef change2006{'D', 6, 200, 1471}, change2009{'D', 9, 114, 946};
  ActText after2009 = act.text;
  ActText after2006 = act.text;
  for (auto& b : after2006.blocks)
    if (b.kind == ActBlock::Article && b.number == "99" && b.lines.size() == 3) b.lines.pop_back();
  after2006.textVersion = "Tekst po zmianie z 2006 r. (art. 55), przed zmianą z 2009 r. (art. 99 ust. 3)";
  ActText first = after2006;
  for (auto& b : first.blocks)
    if (b.kind == ActBlock::Article && b.number == "55")
      b.lines = {"[Brzmienie pierwotne art. 55 nie wchodzi do korpusu demonstracyjnego; obecne brzmienie nadała mu "
                 "ustawa z dnia 8 września 2006 r. o zmianie Konstytucji (Dz.U. 2006 nr 200 poz. 1471).]"};
  first.textVersion = "Tekst pierwotny (bez zmian z 2006 i 2009 r.; zob. uwaga przy art. 55)";
  act.versions = {{act.text.ref, first}, {change2006, after2006}, {change2009, after2009}};
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

class Output {
 public:
  explicit Output(std::string dir) : m_dir(std::move(dir)) {}
  bool Prepare() {
    for (const char* sub : {"", "/acts", "/rulings", "/toc"}) {
      std::string d = m_dir + sub;
      if (::mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) return Fail(d);
    }
    return true;
  }
  bool Add(const std::string& base, const Document& doc) {
    if (!WriteFile(m_dir + "/" + base + "/" + doc.name, doc.data)) return Fail(doc.name);
    m_lists[base] += doc.name + "\n";
    if (!doc.keys.empty()) m_keys += doc.name + "\t" + doc.keys + "\n";
    return true;
  }
  bool Finish() {
    for (const auto& [base, list] : m_lists)
      if (!WriteFile(m_dir + "/" + base + ".list", list)) return Fail(base + ".list");
    return WriteFile(m_dir + "/keys.txt", m_keys) || Fail("keys.txt");
  }

 private:
  bool Fail(const std::string& what) {
    std::cerr << "vamudemo: cannot write " << m_dir << "/" << what << ": " << std::strerror(errno) << "\n";
    return false;
  }
  std::string m_dir;
  std::map<std::string, std::string> m_lists;
  std::string m_keys;
};

// The sentence of a ruling ends where its reasons ("Uzasadnienie") begin.
void SplitRuling(const RulingText& r, RulingDoc& doc) {
  std::size_t cut = r.lines.size();
  for (std::size_t i = 0; i < r.lines.size(); ++i) {
    std::string l = r.lines[i];
    while (!l.empty() && l[0] == ' ') l.erase(0, 1);
    if (l.rfind("UZASADNIENIE", 0) == 0 || l == "Uzasadnienie") {
      cut = i;
      break;
    }
  }
  if (cut == r.lines.size()) cut = std::min<std::size_t>(r.lines.size(), 30);
  doc.sentence.assign(r.lines.begin(), r.lines.begin() + static_cast<long>(cut));
  doc.reasons.assign(r.lines.begin() + static_cast<long>(cut), r.lines.end());
}

// The article a place names, as the corpus numbers it: "ART.424(1)UST2" -> "424^1".
std::string ArticleOf(const std::string& location) {
  std::size_t i = 4, e = 4;
  while (e < location.size() && std::isdigit(static_cast<unsigned char>(location[e]))) ++e;
  std::string number = location.substr(i, e - i);
  if (e < location.size() && location[e] == '(') number += "^" + location.substr(e + 1, location.find(')', e) - e - 1);
  return number;
}

int Usage() {
  std::cerr << "usage: vamudemo --corpus DIR --out DIR\n"
               "Writes the documents of the demo bases made from the corpus (see demo/build-demo.sh).\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpus, out;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--corpus") && i + 1 < argc) corpus = argv[++i];
    else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
    else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return Usage(), 0;
    else return Usage();
  }
  if (corpus.empty() || out.empty()) return Usage();

  std::vector<Act> acts;
  for (const auto& path : TextFilesIn(corpus + "/acts")) {
    Act act;
    act.stem = path.substr(path.find_last_of('/') + 1);
    act.stem.resize(act.stem.size() - 4);
    if (!ReadAct(path, act.text)) {
      std::cerr << "vamudemo: " << path << ": not an act text\n";
      return 1;
    }
    for (const auto& p : kPlacements)
      if (act.stem == p.file) act.placement = &p;
    if (act.stem == "konstytucja") AddConstitutionVersions(act);
    else act.versions = {{act.text.ref, act.text}};
    acts.push_back(std::move(act));
  }
  if (acts.empty()) {
    std::cerr << "vamudemo: no acts in " << corpus << "/acts\n";
    return 1;
  }
  auto findAct = [&](const ActRef& r) -> Act* {
    for (auto& a : acts)
      if (a.text.ref.journal == r.journal && a.text.ref.year == r.year && a.text.ref.position == r.position)
        return &a;
    return nullptr;
  };

  Output output(out);
  if (!output.Prepare()) return 1;

  // Rulings: numbered in file order within their year.
  std::map<int, int> serials;
  std::vector<std::pair<std::string, std::string>> rulingNodes;  // name, title
  for (const auto& path : TextFilesIn(corpus + "/rulings")) {
    RulingText r;
    if (!ReadRuling(path, r)) {
      std::cerr << "vamudemo: " << path << ": not a ruling text\n";
      return 1;
    }
    RulingDoc doc;
    doc.name = RulingName(r.Year(), ++serials[r.Year()]);
    doc.title = r.Field("Title");
    for (const char* key : {"Court", "Signature", "Date", "Type", "Judges"}) {
      static const std::map<std::string, std::string> kLabels = {
          {"Court", "Sąd"}, {"Signature", "Sygnatura"}, {"Date", "Data"}, {"Type", "Rodzaj"}, {"Judges", "Skład"}};
      if (!r.Field(key).empty()) doc.details.push_back(kLabels.at(key) + ": " + r.Field(key));
    }
    doc.source = r.Field("Source-id");
    for (const auto& c : r.concerns) {
      Act* act = findAct(c.act);
      if (!act) continue;
      // Places in articles the act does not have (a wrong citation, or an
      // article the corpus text lacks) would get an icon nowhere near them.
      std::vector<std::string> places;
      for (const auto& l : c.locations)
        if (act->text.FindArticle(ArticleOf(l))) places.push_back(l);
      doc.acts.push_back({act->text.ref, act->text.title, act->CurrentDocName(), places, c.cited});
      std::string cited;
      for (const auto& p : c.cited) cited += (cited.empty() ? "" : ", ") + p;
      act->rulings.push_back({doc.name, doc.title, cited});
    }
    SplitRuling(r, doc);
    if (!output.Add("rulings", RulingDocument(doc))) return 1;
    rulingNodes.emplace_back(doc.name, doc.title);
  }

  std::map<std::string, std::string> subjects;  // contents file -> its lines
  for (const auto& act : acts) {
    const std::string related = act.placement ? act.placement->related : "";
    for (const auto& [version, text] : act.versions)
      if (!output.Add("acts", ActDocument(text, version, related))) return 1;
    if (!act.rulings.empty() &&
        !output.Add("acts", RulingsListDocument(act.text.ref, act.text.title, act.rulings)))
      return 1;
    subjects[act.placement ? act.placement->contents : "INNE"] += ContentsActLines(act.text.ref);
  }

  // The contents tree: subjects, each with its acts spliced in; then the rulings.
  std::string root;
  for (const auto& s : kSubjects) {
    if (!subjects.count(s.file)) continue;
    root += ContentsGroupLines(s.caption, s.file);
    if (!output.Add("toc", {std::string("SPIS") + s.file + ".TOC", "", subjects[s.file]})) return 1;
  }
  if (subjects.count("INNE")) {
    root += ContentsGroupLines("Inne akty", "INNE");
    if (!output.Add("toc", {"SPISINNE.TOC", "", subjects["INNE"]})) return 1;
  }
  std::string rulingLines;
  for (const auto& [name, title] : rulingNodes) {
    std::string caption;
    for (char ch : title) caption += ch == '"' ? std::string("\\\"") : std::string(1, ch);
    rulingLines += "1 -t portico.dll?Topic&" + name + " \"" + caption + "\"\r\n";
  }
  if (!rulingLines.empty()) {
    root += ContentsGroupLines("Orzecznictwo", "ORZECZENIA");
    if (!output.Add("toc", {"SPISORZECZENIA.TOC", "", rulingLines})) return 1;
  }
  if (!output.Add("toc", {"SPISTEMATY.TOC", "", root})) return 1;
  if (!output.Finish()) return 1;
  std::cout << "vamudemo: " << acts.size() << " acts, " << rulingNodes.size() << " rulings written to " << out << "\n";
  return 0;
}
