// The reader addresses end to end through vamuserver over the demo bases
// made from the corpus: every address form, and the comparison of the
// Konstytucja's three versions against a comparison of its stored texts
// made here, article by article.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "host/tests/server_fixture.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using host::test::Fetch;
using host::test::Response;
using host::test::ServerProcess;
using host::test::Site;

// One demo installation for the whole suite: building it takes seconds.
struct Demo {
  std::string dir;
  bool built = false;
};
Demo& TheDemo() {
  static Demo demo;
  return demo;
}

int RunToEnd(const std::string& program, const std::vector<std::string>& args, const std::string& errors,
             std::string* out) {
  ServerProcess p;
  if (!p.Launch(program, args, errors, errors + ".marker", false)) return -1;
  *out = p.ReadOutput(120s);
  return p.Wait(60s).value_or(-1);
}

struct ReaderSite : ::testing::Test {
  static void SetUpTestSuite() {
    Demo& demo = TheDemo();
    std::optional<std::string> temp = CreateTempFile(TempDirectory());
    fs::remove(*temp);
    demo.dir = *temp;
    fs::create_directories(demo.dir);
    std::string out;
    demo.built = RunToEnd("/bin/bash", {VAMU_SOURCE_DIR "/demo/build-demo.sh", VAMU_BIN_DIR, demo.dir + "/demo"},
                          demo.dir + "/errors.log", &out) == 0;
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(TheDemo().dir, ec);
  }

  Site site;
  ServerProcess server;
  void SetUp() override {
    ASSERT_TRUE(TheDemo().built) << Site::ReadFile(TheDemo().dir + "/errors.log");
    site.registry = TheDemo().dir + "/demo/registry.reg";
    ASSERT_TRUE(server.Start(site));
  }
  void TearDown() override {
    std::string errors = Site::ReadFile(site.errorLog);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  }
  Response Get(const std::string& target) { return Fetch(server.Port(), target); }

  // A stored document of the acts base, as the base tool extracts it.
  std::string Stored(const std::string& name) {
    std::string out;
    EXPECT_EQ(RunToEnd(VAMU_BIN_DIR "/vamubase", {"extract", TheDemo().dir + "/demo/bases/acts.vq", name},
                       TheDemo().dir + "/errors.log", &out),
              0);
    return out;
  }
};

TEST_F(ReaderSite, EveryAddressFormAnswers) {
  struct Case {
    const char* target;
    int status;
    const char* contains;
  };
  for (const Case& c : std::vector<Case>{
           {"/eli/DU/1997/483", 200, "<h1>Konstytucja Rzeczypospolitej Polskiej"},
           {"/eli/DU/1997/483/pierwotny", 200, "aria-current=\"page\">tekst pierwotny</a>"},
           {"/eli/DU/1997/483/po/DU/2009/946", 200, "<link rel=\"canonical\" href=\"/eli/DU/1997/483/po/DU/2009/946\">"},
           {"/eli/DU/1997/483/po/DU/2006/1471", 200, "po zmianie: Dz.U. 2006 nr 200 poz. 1471</a> <strong>"},
           {"/eli/DU/1997/483/art/5", 200, "<h4 id=\"art-5-h\">"},
           {"/eli/DU/1997/483/art/99/ust/3", 200, "<p id=\"art-99-ust-3\">3. "},
           {"/eli/DU/1997/483/art/55/ust/2/pkt/1", 200, "<p id=\"art-55-ust-2-pkt-1\" class=\"u-pkt\">1) "},
           {"/eli/DU/1964/296/art/1", 200, "<h4 id=\"art-1-h\">"},
           {"/eli/DU/1997/483/pierwotny/art/99/ust/3", 404, "art. 99 ust. 3 w akcie Dz.U. 1997 poz. 483"},
           {"/eli/DU/1997/483/zmiany?z=pierwotny&na=DU/2009/946", 200, "<h3>Art. 55 (zmieniony)</h3>"},
           {"/eli/DU/1997/484", 404, "akt Dz.U. 1997 poz. 484"},
           {"/eli/DU/1997/483/art/999", 404, "<a href=\"/Search.htm\">"},
           {"/eli/DU/1997/483/zmiany?z=%3Cb%3E", 400, "&lt;b&gt;"},
       }) {
    Response r = Get(c.target);
    EXPECT_EQ(r.Status(), c.status) << c.target;
    EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8") << c.target;
    EXPECT_NE(r.Body().find(c.contains), std::string::npos) << c.target << "\n" << r.Body().substr(0, 3000);
  }
  // An article with a superscript number: the Kodeks cywilny has art. 22^1.
  Response sup = Get("/eli/DU/1964/93/art/22(1)");
  EXPECT_EQ(sup.Status(), 200);
  EXPECT_NE(sup.Body().find("<h4 id=\"art-22(1)-h\"><span id=\"d-A22_1\"></span>Art. 22<sup>1</sup>.</h4>"),
            std::string::npos)
      << sup.Body();
  // The frameset's document page links here.
  Response topic = Get("/portico.dll?Topic&D97483D09946");
  EXPECT_NE(topic.Body().find("<A HREF=\"/eli/DU/1997/483/po/DU/2009/946\" TARGET=_top>wersja bez ramek</A>"),
            std::string::npos);
}

// The articles of a stored version, compared as text: split at each
// "<P>Art. N." of the document, tags and blanks removed.
std::map<std::string, std::string> StoredArticles(const std::string& document) {
  std::map<std::string, std::string> articles;
  std::regex heading("<P>Art\\. ([0-9]+[a-z]*(\\[[0-9]+\\])?)\\.");
  std::string body = document.substr(document.find("<BODY>"));
  std::vector<std::pair<std::string, std::size_t>> starts;
  for (std::sregex_iterator it(body.begin(), body.end(), heading), end; it != end; ++it)
    starts.emplace_back((*it)[1].str(), static_cast<std::size_t>(it->position()));
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::size_t to = i + 1 < starts.size() ? starts[i + 1].second : body.find("</BODY>");
    std::string text = std::regex_replace(body.substr(starts[i].second, to - starts[i].second),
                                          std::regex("<[^>]*>|\\s+"), "");
    articles[starts[i].first] = text;
  }
  return articles;
}

std::set<std::string> Differing(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  std::set<std::string> out;
  for (const auto& [n, t] : a)
    if (!b.count(n) || b.at(n) != t) out.insert(n);
  for (const auto& [n, t] : b)
    if (!a.count(n)) out.insert(n);
  return out;
}

// The articles the comparison page names.
std::set<std::string> Shown(const std::string& page) {
  std::set<std::string> out;
  std::regex h3("<h3>Art\\. ([^ ]+) \\((zmieniony|dodany|usuni)");
  for (std::sregex_iterator it(page.begin(), page.end(), h3), end; it != end; ++it) out.insert((*it)[1].str());
  return out;
}

TEST_F(ReaderSite, KonstytucjaVersionsShowTheirRealDifferences) {
  const std::map<std::string, std::string> first = StoredArticles(Stored("D97483D97483.HTM"));
  const std::map<std::string, std::string> after2006 = StoredArticles(Stored("D97483D061471.HTM"));
  const std::map<std::string, std::string> after2009 = StoredArticles(Stored("D97483D09946.HTM"));
  ASSERT_EQ(first.size(), 243u);
  struct Pair {
    const char* from;
    const char* to;
    const std::map<std::string, std::string>& a;
    const std::map<std::string, std::string>& b;
  };
  for (const Pair& p : std::vector<Pair>{{"pierwotny", "DU/2006/1471", first, after2006},
                                          {"DU/2006/1471", "DU/2009/946", after2006, after2009},
                                          {"pierwotny", "DU/2009/946", first, after2009}}) {
    const std::set<std::string> expected = Differing(p.a, p.b);
    ASSERT_FALSE(expected.empty()) << p.from << " " << p.to;
    Response r = Get(std::string("/eli/DU/1997/483/zmiany?z=") + p.from + "&na=" + p.to);
    ASSERT_EQ(r.Status(), 200);
    EXPECT_EQ(Shown(r.Body()), expected) << p.from << " -> " << p.to;
    const std::string unchanged = "bez zmian: " + std::to_string(p.a.size() - expected.size()) + ".";
    EXPECT_NE(r.Body().find(unchanged), std::string::npos) << p.from << " -> " << p.to;
  }
  // What the 2009 amendment added is marked as inserted, word by word.
  Response r = Get("/eli/DU/1997/483/zmiany?z=DU/2006/1471&na=DU/2009/946");
  EXPECT_NE(r.Body().find(reinterpret_cast<const char*>(u8"<ins>3. Wybraną do Sejmu lub do Senatu nie może być osoba skazana")),
            std::string::npos) << r.Body();
  EXPECT_EQ(r.Body().find("<del>"), std::string::npos) << "the 2009 amendment only added";
}

}  // namespace
