// Every page command through the extension's request entry
// (HttpExtensionProc), with arbitrary query strings and paths, on a fixed
// site: a base of acts with their navigation lines, tables of contents,
// footers, versions, rulings lists, rulings with their references and an
// image; a base of rulings; a contents catalogue with contents files; the
// static pages and the settings the pages read.
//
// Input: the query string, a line break, the translated path (for
// portico.dll/NAME.ATT references), a line break, the method (GET when
// there is none), a line break, the browser's user agent.
//
// Properties:
//  - no request makes a page fail: the entry answers every request with a
//    page (or, for a request that names neither a command nor a reference,
//    with nothing), never with the error status of a page that threw;
//  - the response header is sent at most once, and before any body byte;
//  - the log field ends within its 80 bytes;
//  - nothing the request carries reaches the page as markup: a tag "<x7y"
//    (written as it stands or percent-encoded) never appears in the body.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "portico/tests/harness.h"

namespace {

using portico::test::Item;

std::string Act(const std::string& title, const std::string& line, const std::string& body) {
  return "<HTML><HEAD><TITLE>" + title +
         "</TITLE>\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n</HEAD>\r\n"
         "<!--LINE " + line + " -->\r\n"
         "<!--TOC<HTML><HEAD><TITLE>Spis treści</TITLE></HEAD><BODY><UL>\r\n"
         "<LI><A HREF=\"portico.dll?Topic&x#H1\" TARGET=VAMUTEXT>Rozdział I</A>\r\n"
         "<LI><A HREF=portico.dll?Topic&x#A5>Art. 5</A></UL></BODY></HTML>-->\r\n"
         "<!--FOOT<HTML><BODY><CENTER>Stopka aktu</CENTER></BODY></HTML>-->\r\n<BODY>\r\n" + body +
         "\r\n</BODY></HTML>";
}

const std::string kActBody =
    "<H1>Konstytucja Rzeczypospolitej Polskiej z dnia 2 kwietnia 1997 r.</H1>\r\n"
    "<A NAME=\"H1\"></A><H3>Rozdział I<BR>RZECZPOSPOLITA</H3>\r\n"
    "<A NAME=\"A4\"></A><P>Art. 4. 1. Władza zwierzchnia w Rzeczypospolitej Polskiej należy do Narodu.\r\n"
    "<P>2. Naród sprawuje władzę przez swoich przedstawicieli lub bezpośrednio.\r\n"
    "<A NAME=\"A5\"></A><P>Art. 5. Rzeczpospolita Polska strzeże niepodległości.\r\n"
    "<P>§ 2 paragraf <P>1) punkt pierwszy <P>2) punkt drugi\r\n"
    "<A NAME=\"A22_1\"></A><P>Art. 22[1]. Artykuł z indeksem.\r\n";

std::string Ruling(const std::string& keys, const std::string& text) {
  return "<HTML><HEAD><META KEYS=\"" + keys + "\">\r\n<TITLE>Wyrok</TITLE></HEAD><BODY>\r\n"
         "<A NAME=\"SENT\"></A><!--BEGIN-->" + text + "<!--END-->\r\n"
         "<A NAME=\"ART5\"></A><H3>ART5</H3><!--BEGIN-->O artykule 5<!--END-->\r\n</BODY></HTML>";
}

struct Site {
  portico::test::TestSite site;
  std::unique_ptr<portico::CPorticoExtension> extension;
  Site() {
    site.AddBase({
        {"D97483D97483.HTM",
         Act("Dz.U.97.78.483 - Konstytucja Rzeczypospolitej Polskiej",
             "Search@ Home@ Notes=D97483D97483@ LinkedDoc=PRAWOPUBLICZNE@", kActBody),
         "D97483;PRAWOPUBLICZNE"},
        {"D97483D09946.HTM",
         Act("Dz.U.97.78.483 - Konstytucja Rzeczypospolitej Polskiej (zmiana: Dz.U.09.114.946)",
             "Search@ Home@ Notes=D97483D09946@ LinkedDoc=PRAWOPUBLICZNE@", kActBody + "<P>Art. 6. Nowy.\r\n"),
         "D97483;PRAWOPUBLICZNE"},
        {"D97483O.HTM", "<HTML><BODY><A HREF=\"portico.dll?Topic&65536\">Wyrok</A></BODY></HTML>", ""},
        {"D64093D64093.HTM", Act("Dz.U.64.16.93 - Kodeks cywilny", "Search@ Notes=D64093D64093@ LinkedOrz=D64093@",
                                 "<H1>Kodeks cywilny</H1><P>Art. 1. Kodeks reguluje stosunki.\r\n"),
         "D64093;PRAWOPUBLICZNE"},
        {"M98010M98010.HTM", Act("M.P.98.4.10 - Uchwała", "Home@", "<P>Uchwała.\r\n"), "M98010"},
        {"SCHEMAT.JPG", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11), ""},
    });
    site.AddBase({
        {"O1100001.HTM",
         Ruling("D97483 O=SENT\r\nD97483 ART.4UST2=SENT\r\nD97483 ART.5=ART5\r\nD64093 ART.1-3=SENT\r\n",
                "Wyrok Trybunału w sprawie art. 4"),
         "D97483OO;D64093OO"},
        {"O1100002.HTM", Ruling("D97483 ART.22(1)=SENT\r\nD97483 §2=SENT\r\n", "Uchwała o § 2"), "D97483OO"},
    });
    site.AddBase({{"SPISDZU.TOC",
                   "1 -id \"Dziennik Ustaw\"\r\n2 -t portico.dll?TreeToc&Publ=VamuSpis&Name=CYWILNE \"Ładuje...\"\r\n"
                   "1 -dd\r\nNAME=D97483\r\n",
                   ""},
                  {"SPISCYWILNE.TOC", "1 -id \"Prawo cywilne\"\r\n1 -dd\r\nNAME=D64093\r\n", ""}},
                 "TOC");
    site.WriteStatic("Search.htm", "<HTML><BODY>szukaj</BODY></HTML>");
    site.WriteStatic("Notes.htm", "<HTML><BODY>notatki</BODY></HTML>");
    site.WriteStatic("Home.htm", "<HTML><BODY>strona główna</BODY></HTML>");
    site.WriteStatic("Bookmark.htm", "<HTML><BODY>zakładki</BODY></HTML>");
    site.SetSetting("Publisher", "Notice", "Wydawca");
    site.SetSetting("Publisher", "Address", "http://wydawca.example/");
    site.SetSetting("Commercials", "Commercial1", "reklama1.gif;Pierwsza reklama");
    site.SetSetting("", "Counter", "0");
    extension = portico::test::StartExtension(site);
    // The fixture itself: the act is served, the search finds it.
    FUZZ_REQUIRE(portico::test::Query(*extension, "Topic&0").body.find("RZECZPOSPOLITA") != std::string::npos,
                 "the site does not serve its act");
    FUZZ_REQUIRE(portico::test::Query(*extension, "Search&Pattern=konstytucja&TypyDoc=1").body.find("Topic&D97483D97483") !=
                     std::string::npos,
                 "the site's search does not find its act");
  }
};

bool ContainsNoCase(const std::string& text, std::string_view what) {
  auto it = std::search(text.begin(), text.end(), what.begin(), what.end(),
                        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return it != text.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (fuzz::QuietMessages(), true);
  (void)quiet;
  // The site's files (and the registry the visit counter rewrites) in memory.
  static Site* site = (::setenv("TMPDIR", fuzz::ScratchDir().c_str(), 1), new Site);

  std::string input(reinterpret_cast<const char*>(data), size);
  input = input.substr(0, input.find('\0'));
  std::size_t nl = input.find('\n');
  std::string query = input.substr(0, nl);
  std::string rest = nl == std::string::npos ? "" : input.substr(nl + 1);
  nl = rest.find('\n');
  std::string path = rest.substr(0, nl);
  rest = nl == std::string::npos ? "" : rest.substr(nl + 1);
  nl = rest.find('\n');
  std::string method = rest.empty() ? "GET" : rest.substr(0, nl);
  std::string agent = nl == std::string::npos ? "test-agent" : rest.substr(nl + 1);

  portico::test::TestRequest request(query, method, path);
  request.variables["HTTP_USER_AGENT"] = agent;
  portico::test::Response r = portico::test::Query(*site->extension, request);
  // VAMU_FUZZ_SHOW=1 prints each response, for looking into an input by hand.
  static const bool show = std::getenv("VAMU_FUZZ_SHOW") != nullptr;
  if (show) std::fprintf(stderr, "%u %s\n%s\n", r.result, r.header.c_str(), r.body.c_str());
  FUZZ_REQUIRE(r.result != HSE_STATUS_ERROR, "the page of " + fuzz::Shown(query) + " (path " + fuzz::Shown(path) +
                                                 ") failed");
  FUZZ_REQUIRE(r.headerCount <= 1, "the header was sent " + std::to_string(r.headerCount) + " times");
  FUZZ_REQUIRE(r.body.empty() || r.headerCount == 1, "a body without a header");
  FUZZ_REQUIRE(std::memchr(request.Ecb()->lpszLogData, 0, HSE_LOG_BUFFER_LEN) != nullptr,
               "the log field is not terminated");
  FUZZ_REQUIRE(!ContainsNoCase(r.body, "<x7y"),
               "the request's markup reaches the page of " + fuzz::Shown(query) + ": " + fuzz::Shown(r.body, 400));
  return 0;
}
