// The reader addresses end to end through vamuserver over the demo bases
// made from the corpus: every address form, and the comparison of the
// Konstytucja's three versions against a comparison of its stored texts
// made here, article by article.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
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

// The version addresses the acts base holds, read from its item names
// ("D97483D09946.HTM": Dz.U. 1997 poz. 483 after Dz.U. 2009 poz. 946) as
// "vamubase list" prints them; two-digit years 60-99 are 19xx, the rest 20xx.
std::string NameToVersion(const std::string& name) {
  auto part = [](const std::string& text, std::size_t& at) -> std::optional<std::string> {
    if (at + 3 > text.size() || (text[at] != 'D' && text[at] != 'M')) return std::nullopt;
    const std::string journal = text[at] == 'D' ? "DU" : "MP";
    const int yy = (text[at + 1] - '0') * 10 + (text[at + 2] - '0');
    std::size_t end = at + 3;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == at + 3) return std::nullopt;
    std::string out = journal + "/" + std::to_string(yy >= 60 ? 1900 + yy : 2000 + yy) + "/" +
                      std::to_string(std::stoi(text.substr(at + 3, end - at - 3)));
    at = end;
    return out;
  };
  std::size_t at = 0;
  std::optional<std::string> act = part(name, at), after = part(name, at);
  if (!act || !after || name.substr(at) != ".HTM") return "";
  return "/eli/" + *act + (*act == *after ? "/pierwotny" : "/po/" + *after);
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

  // Every act and version address of the acts base, from its item names.
  std::set<std::string> VersionsInBase() {
    std::string list;
    EXPECT_EQ(RunToEnd(VAMU_BIN_DIR "/vamubase", {"list", TheDemo().dir + "/demo/bases/acts.vq"},
                       TheDemo().dir + "/errors.log", &list),
              0);
    std::set<std::string> out;
    std::size_t from = 0;
    for (std::size_t nl; (nl = list.find('\n', from)) != std::string::npos; from = nl + 1) {
      const std::string line = list.substr(from, nl - from);
      const std::string version = NameToVersion(line.substr(line.rfind('\t') + 1));
      if (version.empty()) continue;
      out.insert(version);
      out.insert(version.substr(0, version.find('/', version.find('/', version.find('/', 5) + 1) + 1)));
    }
    return out;
  }

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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The article number at `at` ("12", "12a", "22[1]") when a "." follows it.
std::optional<std::string> StoredArticleNumber(const std::string& text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  if (end == at) return std::nullopt;
  while (end < text.size() && text[end] >= 'a' && text[end] <= 'z') ++end;
  if (end < text.size() && text[end] == '[') {
    std::size_t close = end + 1;
    while (close < text.size() && IsDigit(text[close])) ++close;
    if (close == end + 1 || close >= text.size() || text[close] != ']') return std::nullopt;
    end = close + 1;
  }
  if (end >= text.size() || text[end] != '.') return std::nullopt;
  return text.substr(at, end - at);
}

// The articles of a stored version, compared as text: split at each
// "<P>Art. N." of the document, tags and blanks removed.
std::map<std::string, std::string> StoredArticles(const std::string& document) {
  std::map<std::string, std::string> articles;
  const std::string body = document.substr(document.find("<BODY>"));
  const std::string heading = "<P>Art. ";
  std::vector<std::pair<std::string, std::size_t>> starts;
  for (std::size_t at = body.find(heading); at != std::string::npos; at = body.find(heading, at + 1))
    if (std::optional<std::string> n = StoredArticleNumber(body, at + heading.size())) starts.emplace_back(*n, at);
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t to = i + 1 < starts.size() ? starts[i + 1].second : body.find("</BODY>");
    std::string text;
    bool inTag = false;
    for (std::size_t k = starts[i].second; k < to; ++k) {
      const char c = body[k];
      if (c == '<') inTag = true;
      if (!inTag && c != ' ' && c != '\t' && c != '\r' && c != '\n') text += c;
      if (c == '>') inTag = false;
    }
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
  const std::string heading = "<h3>Art. ";
  for (std::size_t at = page.find(heading); at != std::string::npos; at = page.find(heading, at + 1)) {
    const std::size_t from = at + heading.size(), space = page.find(' ', from);
    if (space == std::string::npos) break;
    static const std::string kinds[] = {" (zmieniony", " (dodany", " (usuni"};
    for (const std::string& kind : kinds)
      if (page.compare(space, kind.size(), kind) == 0) out.insert(page.substr(from, space - from));
  }
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

// Everything between the markers of each occurrence in the text.
std::vector<std::string> Between(const std::string& text, const std::string& open, const std::string& close) {
  std::vector<std::string> out;
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const std::size_t from = at + open.size(), to = text.find(close, from);
    if (to == std::string::npos) break;
    out.push_back(text.substr(from, to - from));
  }
  return out;
}

// The maps, the feed and the API through vamuserver, against what the base's
// item names hold; and hostile requests as a client sends them on the wire.
TEST_F(ReaderSite, MapsFeedApiAndHostileRequests) {
  const std::set<std::string> expected = VersionsInBase();
  ASSERT_TRUE(expected.count("/eli/DU/1997/483/po/DU/2006/1471")) << "the names are read";
  const std::string origin = "http://127.0.0.1";  // the Host field the test client sends

  Response map = Get("/sitemap.xml");
  EXPECT_EQ(map.Status(), 200);
  EXPECT_EQ(map.Header("Content-Type"), "application/xml; charset=utf-8");
  std::set<std::string> listed;
  for (const std::string& loc : Between(map.Body(), "<loc>", "</loc>")) {
    ASSERT_EQ(loc.rfind(origin, 0), 0u) << loc;
    EXPECT_TRUE(listed.insert(loc.substr(origin.size())).second) << "listed once: " << loc;
  }
  EXPECT_EQ(listed, expected);
  for (const std::string& address : listed) EXPECT_EQ(Get(address).Status(), 200) << address;

  Response robots = Get("/robots.txt");
  EXPECT_EQ(robots.Header("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_NE(robots.Body().find("\nSitemap: " + origin + "/sitemap.xml\n"), std::string::npos) << robots.Body();

  // The first life of the extension over these bases: every version is new.
  Response feed = Get("/feed/nowe.atom");
  EXPECT_EQ(feed.Header("Content-Type"), "application/atom+xml; charset=utf-8");
  std::set<std::string> entries;
  for (const std::string& id : Between(feed.Body(), "<entry>\n<id>", "</id>")) entries.insert(id.substr(origin.size()));
  std::set<std::string> versions;
  for (const std::string& a : expected)
    if (a.find("/pierwotny") != std::string::npos || a.find("/po/") != std::string::npos) versions.insert(a);
  EXPECT_EQ(entries, versions);

  Response act = Get("/api/v1/eli/DU/1997/483");
  EXPECT_EQ(act.Status(), 200);
  EXPECT_EQ(act.Header("Content-Type"), "application/json; charset=utf-8");
  for (const char* v : {"/eli/DU/1997/483/pierwotny", "/eli/DU/1997/483/po/DU/2006/1471", "/eli/DU/1997/483/po/DU/2009/946"})
    EXPECT_NE(act.Body().find(std::string("\"adres\":\"") + v + "\""), std::string::npos) << v;
  Response year = Get("/api/v1/akty/DU/1997");
  std::size_t of1997 = 0;
  for (const std::string& a : expected) of1997 += a.rfind("/eli/DU/1997/", 0) == 0 && std::count(a.begin(), a.end(), '/') == 4;
  EXPECT_NE(year.Body().find("\"razem\":" + std::to_string(of1997)), std::string::npos) << year.Body();
  EXPECT_EQ(Get("/api/v1/eli/DU/1997/483/art/5").Status(), 200);

  for (const char* target : {"/eli/DU/1997/483/art/%00", "/eli/%FF%FE/1997/483", "/eli/DU/1997/483/art/%3Cimg%20src=x%3E",
                             "/eli/DU/1997/483/zmiany?z=%3Cscript%3E&na=%00", "/eli/DU/1997/483/zmiany?na=%22%3E%3Cimg%20src=x%3E",
                             "/eli/DU/1997/483/art/..%2F..%2F..%2Fetc%2Fpasswd", "/api/v1/szukaj?rok_od=%3Cscript%3E",
                             "/api/v1/akty/DU/%3Cscript%3E", "/api/v1/eli/DU/1997/483/art/%3Cscript%3E",
                             "/feed/%3Cscript%3E", "/api/v1/szukaj?dziennik=%22%3E%3Cimg%20src=x%3E"}) {
    Response r = Get(target);
    EXPECT_TRUE(r.Status() == 400 || r.Status() == 404) << target << " " << r.Status();
    EXPECT_EQ(r.Body().find("<script"), std::string::npos) << target;
    EXPECT_EQ(r.Body().find("<img"), std::string::npos) << target;
  }
  EXPECT_EQ(Get("/eli/DU/1997/483").Status(), 200) << "the server goes on";
}

// Every demo base has its word positions file beside it, current: the build
// script makes the bases under a temporary name and must move the file too, or
// every phrase of the site reads the documents (the tool says so on stderr).
TEST_F(ReaderSite, DemoBasesCarryTheirPositionsFiles) {
  for (const char* base : {"acts.vq", "rulings.vq", "spis.vq"}) {
    const std::string path = TheDemo().dir + "/demo/bases/" + base;
    EXPECT_TRUE(fs::exists(path + "p")) << path;
    const std::string errors = TheDemo().dir + "/query-" + base + ".log";
    std::string out;
    EXPECT_EQ(RunToEnd(VAMU_BIN_DIR "/vamubase", {"query", "-q", path, "\"ustawa o\""}, errors, &out), 0) << base;
    EXPECT_EQ(Site::ReadFile(errors).find("positions"), std::string::npos) << Site::ReadFile(errors);
  }
}

}  // namespace
