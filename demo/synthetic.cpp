#include "demo/synthetic.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "demo/corpus_text.h"
#include "platform/cp1250.h"

#ifndef VAMU_SOURCE_DIR
#define VAMU_SOURCE_DIR "."
#endif

namespace vamucorpus {
namespace {

constexpr std::size_t kBlock = 8;        // documents per block
constexpr std::size_t kActsPerBlock = 5;
constexpr std::size_t kPositions = 2000; // positions of a journal year
constexpr std::size_t kPerNumber = 20;   // positions of one journal number

std::uint64_t Mix(std::uint64_t x) {
  x = (x + 1) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 32);
}

const char* const kMonths[] = {"stycznia", "lutego",   "marca",    "kwietnia", "maja",     "czerwca",
                               "lipca",    "sierpnia", "września", "października", "listopada", "grudnia"};

std::string Date(std::uint64_t h, int year) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d %s %d r.", 1 + static_cast<int>(h % 28), kMonths[(h >> 8) % 12], year);
  return buf;
}

int FullYear(int year) { return year >= 60 ? 1900 + year : 2000 + year; }

// "WOLNOŚCI, PRAWA I OBOWIĄZKI" -> "Wolności, prawa i obowiązki"
std::string Sentence(const std::string& text) {
  std::string out = text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    out[i] = static_cast<char>(i == 0 ? cp1250::ToUpper(c) : cp1250::ToLower(c));
  }
  return out;
}

}  // namespace

std::string SyntheticCorpus::DefaultCorpusDir() {
  const char* env = std::getenv("VAMU_CORPUS");
  return env && *env ? env : std::string(VAMU_SOURCE_DIR) + "/demo/corpus";
}

SyntheticCorpus::SyntheticCorpus(const std::string& corpusDir) {
  for (const auto& path : TextFilesIn(corpusDir + "/acts")) {
    ActText act;
    if (!ReadAct(path, act)) continue;
    for (const auto& b : act.blocks) {
      if (b.kind == ActBlock::Article && !b.lines.empty()) m_articles.push_back({b.lines});
      if (b.kind == ActBlock::Heading && b.lines.size() > 1) m_subjects.push_back(Sentence(b.lines[1]));
    }
  }
  for (const auto& path : TextFilesIn(corpusDir + "/rulings")) {
    RulingText r;
    if (!ReadRuling(path, r)) continue;
    for (const auto& l : r.lines)
      if (l.size() > 60) m_rulingLines.push_back(l);
  }
  if (m_subjects.empty()) m_subjects.push_back("Przepisy ogólne");
  if (m_rulingLines.empty()) m_rulingLines.push_back("Sąd orzekł jak w sentencji.");
}

ActRef SyntheticCorpus::ActOf(std::size_t a) {
  ActRef r;
  r.journal = a % 10 == 9 ? 'M' : 'D';
  r.year = static_cast<int>((60 + a / kPositions) % 100);
  r.position = static_cast<int>(1 + a % kPositions);
  r.number = static_cast<int>(1 + (r.position - 1) / kPerNumber);
  return r;
}

const char* SyntheticCorpus::BaseOf(std::size_t i) { return i % kBlock == 6 ? "rulings" : "acts"; }

SyntheticCorpus::Plan SyntheticCorpus::PlanOf(std::size_t a) const {
  Plan p;
  p.ref = ActOf(a);
  const std::uint64_t h = Mix(a);
  p.title = "Ustawa z dnia " + Date(h, FullYear(p.ref.year)) + " - " + m_subjects[(h >> 16) % m_subjects.size()];
  p.first = static_cast<std::size_t>((h >> 24) % m_articles.size());
  p.count = 3 + static_cast<std::size_t>((h >> 40) % 38);
  return p;
}

ActText SyntheticCorpus::TextOf(const Plan& plan) const {
  ActText t;
  t.ref = plan.ref;
  t.title = plan.title;
  t.textVersion = "Tekst syntetyczny (artykuły z korpusu demonstracyjnego, numeracja własna)";
  ActBlock head;
  head.lines = {"USTAWA", plan.title.substr(7, plan.title.find(" - ") - 7)};
  t.blocks.push_back(head);
  for (std::size_t k = 0; k < plan.count; ++k) {
    ActBlock b;
    b.kind = ActBlock::Article;
    b.number = std::to_string(k + 1);
    b.lines = m_articles[(plan.first + k) % m_articles.size()].lines;
    t.blocks.push_back(std::move(b));
  }
  return t;
}

// One to three places in the act: whole articles, or a paragraph "2." of an
// article that has one.
std::vector<std::string> SyntheticCorpus::Places(const Plan& plan, std::uint64_t seed,
                                                 std::vector<std::string>* cited) const {
  std::vector<std::string> out;
  std::size_t n = 1 + seed % 3;
  for (std::size_t j = 0; j < n; ++j) {
    std::uint64_t h = Mix(seed + j);
    std::size_t k = 1 + static_cast<std::size_t>(h % plan.count);
    const auto& lines = m_articles[(plan.first + k - 1) % m_articles.size()].lines;
    bool secondParagraph = false;
    for (const auto& l : lines) secondParagraph |= l.rfind("2. ", 0) == 0;
    std::string place = "ART." + std::to_string(k) + (secondParagraph && (h >> 20) % 2 ? "UST2" : "");
    bool seen = false;
    for (const auto& p : out) seen |= p == place;
    if (seen) continue;
    out.push_back(place);
    if (cited) cited->push_back("art. " + std::to_string(k) + (place.find("UST") != std::string::npos ? " ust. 2" : ""));
  }
  return out;
}

RulingDoc SyntheticCorpus::Ruling(std::size_t block) const {
  const std::uint64_t h = Mix(block * 7 + 3);
  RulingDoc r;
  const ActRef first = ActOf(block * kActsPerBlock);
  const int year = first.year;
  r.name = RulingName(year, static_cast<int>(block % 100000));
  char signature[64];
  std::snprintf(signature, sizeof signature, "%s %zu/%02d", (h % 2) ? "III CZP" : "I KZP", 1 + block % 997, year);
  r.title = std::string("Uchwała Sądu Najwyższego z dnia ") + Date(h, FullYear(year)) + ", sygn. akt " + signature;
  r.details = {"Sąd: Sąd Najwyższy", std::string("Sygnatura: ") + signature, "Rodzaj: uchwała (syntetyczna)"};
  r.source = "Orzeczenie syntetyczne: zdania z orzeczeń korpusu demonstracyjnego";
  std::vector<std::size_t> concerned = {block * kActsPerBlock, block * kActsPerBlock + 1, block * kActsPerBlock + 2};
  if (block > 0) concerned.push_back((block - 1) * kActsPerBlock + 3);
  for (std::size_t a : concerned) {
    Plan plan = PlanOf(a);
    RulingDoc::Act act;
    act.ref = plan.ref;
    act.title = plan.title;
    act.docName = plan.ref.DocName(a % kActsPerBlock == 0 ? ActOf(a + 4) : plan.ref);
    act.locations = Places(plan, h + a, &act.cited);
    r.acts.push_back(std::move(act));
  }
  for (std::size_t j = 0; j < 3 + h % 4; ++j) r.sentence.push_back(m_rulingLines[Mix(h + j) % m_rulingLines.size()]);
  for (std::size_t j = 0; j < 10 + (h >> 8) % 30; ++j)
    r.reasons.push_back(m_rulingLines[Mix(h + 100 + j) % m_rulingLines.size()]);
  return r;
}

Document SyntheticCorpus::Make(std::size_t i) const {
  if (!Loaded()) return {};
  const std::size_t block = i / kBlock, r = i % kBlock;
  const std::size_t firstAct = block * kActsPerBlock;
  const std::string related = "R" + ActOf(firstAct).Prefix();
  if (r < kActsPerBlock) {
    Plan plan = PlanOf(firstAct + r);
    return ActDocument(TextOf(plan), plan.ref, related);
  }
  if (r == 5) {  // the first act as amended by the fifth
    Plan plan = PlanOf(firstAct);
    ActText text = TextOf(plan);
    text.textVersion = "Tekst syntetyczny po zmianie";
    if (text.blocks.size() > 2) text.blocks.pop_back();  // the amendment repealed the last article
    return ActDocument(text, ActOf(firstAct + 4), related);
  }
  RulingDoc ruling = Ruling(block);
  if (r == 6) return RulingDocument(ruling);
  // r == 7: the rulings list of the first act (its ruling is the one of this block).
  Plan plan = PlanOf(firstAct);
  std::string places;
  for (const auto& c : ruling.acts.front().cited) places += (places.empty() ? "" : ", ") + c;
  return RulingsListDocument(plan.ref, plan.title, {{ruling.name, ruling.title, places}});
}

}  // namespace vamucorpus
