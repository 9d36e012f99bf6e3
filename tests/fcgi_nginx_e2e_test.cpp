// The installed system end to end: setup installs the distribution into a
// temporary root, nginx serves the installed site file on a free loopback
// port, and vamufcgi runs as the installed service unit starts it, on its
// Unix socket below the root. Pages are fetched through nginx.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/tests/server_fixture.h"
#include "tests/installation_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using host::test::Fetch;
using host::test::NginxProgram;
using host::test::Response;
using host::test::ServerProcess;
using host::test::Site;

struct InstalledSite : host::test::InstallationTest {
  unsigned short port = 0;

  void SetUp() override {
    if (NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed (Debian package nginx; ./vamu test installs it)";
    InstallationTest::SetUp();
    fs::create_directories(root + "/etc/nginx");  // setup installs only where a web service is
  }

  // Runs a program to its end; its exit code, its output in *out.
  int Run(const std::string& program, const std::vector<std::string>& args, std::string* out) {
    ServerProcess p;
    if (!p.Launch(program, args, errors, tmp + "/marker", false)) return -1;
    *out = p.ReadOutput(120s);
    return p.Wait(60s).value_or(-1);
  }

  // The distribution with the demo bases made from the corpus, installed by setup.
  void Install() {
    std::string out;
    ASSERT_EQ(Run("/bin/bash", {VAMU_SOURCE_DIR "/demo/build-demo.sh", VAMU_BIN_DIR, tmp + "/demo"}, &out), 0)
        << out << Site::ReadFile(errors);
    std::string dist = tmp + "/dist";
    fs::copy(VAMU_DIST_DIR, dist, fs::copy_options::recursive);
    fs::remove_all(dist + "/bases");
    fs::copy(tmp + "/demo/bases", dist + "/bases", fs::copy_options::recursive);
    ASSERT_EQ(Run(dist + "/setup", {"--root", root, "--full", "--no-restart"}, &out), 0) << out << Site::ReadFile(errors);
  }

  // The host as the installed unit starts it, nginx with the installed site file.
  void StartHost() { StartUnit(Site::ReadFile(root + "/etc/systemd/system/vamufcgi.service")); }
  void StartNginx() {
    InstallationTest::StartNginx(Site::ReadFile(root + "/etc/nginx/sites-available/vamu.conf"), &port);
  }

  Response Get(const std::string& target) { return Fetch(port, target); }
};

TEST_F(InstalledSite, FramesetDocumentSearchAndStaticFileThroughNginx) {
  ASSERT_NO_FATAL_FAILURE(Install());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartNginx());

  const std::string installed = Site::ReadFile(root + "/opt/vamu/site/default.htm");
  ASSERT_FALSE(installed.empty());
  Response page = Get("/default.htm");
  EXPECT_EQ(page.Status(), 200);
  EXPECT_EQ(page.Body(), installed) << "nginx serves the installed static files";
  EXPECT_EQ(Get("/").Body(), installed);

  Response frameset = Get("/portico.dll?Main&D97483D09946");
  ASSERT_EQ(frameset.Status(), 200) << frameset.error.message() << Site::ReadFile(tmp + "/nginx/error.log") << Site::ReadFile(errors) << fcgi.ReadOutput(1s);
  EXPECT_EQ(frameset.Header("Content-Type"), "text/html; charset=windows-1250");
  EXPECT_NE(frameset.Body().find("<FRAME NAME=VAMUFOOT src=portico.dll?Foot&-3>"), std::string::npos) << frameset.Body();

  Response topic = Get("/portico.dll?Topic&D97483D09946");
  ASSERT_EQ(topic.Status(), 200);
  EXPECT_NE(topic.Body().find("charset=windows-1250"), std::string::npos);
  EXPECT_NE(topic.Body().find("KONSTYTUCJA"), std::string::npos);
  EXPECT_NE(topic.Body().find("<img src=\"orbmp.gif\""), std::string::npos) << "ruling icons from the rulings base";

  // An act reference with a path: PATH_INFO and PATH_TRANSLATED come from nginx.
  Response reference = Get("/portico.dll/D97483.ATT");
  ASSERT_EQ(reference.Status(), 200);
  EXPECT_NE(reference.Body().find("KONSTYTUCJA"), std::string::npos);

  Response search = Get("/portico.dll?Search&Pattern=konstytucja&TypyDoc=1");
  ASSERT_EQ(search.Status(), 200);
  EXPECT_NE(search.Body().find("portico.dll?Topic&"), std::string::npos) << search.Body();

  EXPECT_EQ(Get("/portico.dll?NoSuchCommand").Status(), 200) << "no output from the extension: an empty page";

  // The host's status pages through nginx, to a loopback client.
  Response health = Get("/healthz");
  EXPECT_EQ(health.Status(), 200);
  EXPECT_EQ(health.Body(), "ok\n");
  Response metrics = Get("/metrics");
  ASSERT_EQ(metrics.Status(), 200);
  EXPECT_EQ(metrics.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(metrics.Body().find("vamu_requests_total{command=\"Topic\",status=\"200\"} 1\n"), std::string::npos)
      << metrics.Body();
  EXPECT_NE(metrics.Body().find("vamu_base_info{catalogue=\"biblion\",base=\"0\""), std::string::npos);
  // The visit of the frameset was counted in the installed registry file.
  EXPECT_EQ(host::test::AwaitVisits(root + "/etc/vamu/registry.reg", 1), 1);

  StopServers();
  std::string log = fcgi.ReadOutput(1s);
  EXPECT_NE(log.find("\"GET /portico.dll?Topic&D97483D09946 HTTP/1.1\" 200"), std::string::npos) << log;
  EXPECT_NE(log.find("\"vamu-test\""), std::string::npos) << "the browser reaches the extension's log field";
  EXPECT_FALSE(fs::exists(root + "/run/vamu/vamufcgi.sock"));
}

}  // namespace

namespace {

// The reader addresses through nginx and vamufcgi: each address form, the
// API, the maps and the feed, with the content types the pages name (the
// site's windows-1250 charset is not added to them) and hostile input.
TEST_F(InstalledSite, ReaderAddressesThroughNginx) {
  Install();
  StartHost();
  StartNginx();
  struct Case {
    std::string target;
    int status;
    const char* type;
    const char* contains;
  };
  const char* html = "text/html; charset=utf-8";
  const char* json = "application/json; charset=utf-8";
  for (const Case& c : std::vector<Case>{
           {"/eli/DU/1997/483", 200, html, "<html lang=\"pl\">"},
           {"/eli/DU/1997/483/pierwotny", 200, html, "aria-current=\"page\">tekst pierwotny</a>"},
           {"/eli/DU/1997/483/po/DU/2009/946", 200, html, "<link rel=\"canonical\" href=\"/eli/DU/1997/483/po/DU/2009/946\">"},
           {"/eli/DU/1997/483/art/5", 200, html, "<h4 id=\"art-5-h\">"},
           {"/eli/DU/1997/483/art/5/ust/1", 404, html, "art. 5 ust. 1 w akcie"},
           {"/eli/DU/1997/483/art/4/ust/2", 200, html, "<p id=\"art-4-ust-2\">2. "},
           {"/eli/DU/1997/483/art/55/ust/2/pkt/1", 200, html, "<p id=\"art-55-ust-2-pkt-1\" class=\"u-pkt\">"},
           {"/eli/DU/1964/93/art/22(1)", 200, html, "Art. 22<sup>1</sup>.</h4>"},
           {"/eli/DU/1964/93/art/22%281%29", 200, html, "Art. 22<sup>1</sup>.</h4>"},
           {"/eli/DU/1997/483/zmiany?z=pierwotny&na=DU/2009/946", 200, html, "<h3>Art. 99 (zmieniony)</h3>"},
           {"/eli/DU/1997/999", 404, html, "<a href=\"/Search.htm\">"},
           {"/eli/DU/1997/483/art/%3Cscript%3E", 404, html, "&lt;script&gt;"},
           {"/eli/DU/1997/483/zmiany?z=%3Cscript%3E", 400, html, "&lt;script&gt;"},
           {"/api/v1/eli/DU/1997/483", 200, json, "\"adres\":\"/eli/DU/1997/483\""},
           {"/api/v1/akty/DU/1997", 200, json, "\"razem\":2"},
           {"/api/v1/szukaj?q=konstytucja", 200, json, "\"wyniki\":["},
           {"/api/v1/nic", 404, json, "\"status\":404"},
           {"/sitemap.xml", 200, "application/xml; charset=utf-8", "/eli/DU/1997/483/po/DU/2009/946</loc>"},
           {"/robots.txt", 200, "text/plain; charset=utf-8", "/sitemap.xml"},
           {"/feed/nowe.atom", 200, "application/atom+xml; charset=utf-8", "<feed xmlns=\"http://www.w3.org/2005/Atom\""},
       }) {
    Response r = Get(c.target);
    EXPECT_EQ(r.Status(), c.status) << c.target << " " << Site::ReadFile(tmp + "/nginx/error.log");
    EXPECT_EQ(r.Header("Content-Type"), c.type) << c.target;
    EXPECT_NE(r.Body().find(c.contains), std::string::npos) << c.target << "\n" << r.Body().substr(0, 2000);
    EXPECT_EQ(r.Body().find("<script>"), std::string::npos) << c.target;
  }
  // Near misses stay static files of the site (there are none).
  EXPECT_EQ(Get("/elix/DU/1997/483").Status(), 404);
  EXPECT_EQ(Get("/eli").Status(), 404);
  // The frameset is as it was.
  EXPECT_NE(Get("/portico.dll?Topic&D97483D09946").Body().find("wersja bez ramek"), std::string::npos);
}

}  // namespace
