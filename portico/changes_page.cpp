// What changed between two versions of an act: /eli/DU/1997/483/zmiany?z=...&na=...
// where each field names a version ("pierwotny", "DU/2009/946", or
// "obowiazujacy"). Without na= the text in force is compared; without z=,
// the version before na=.
#include "biblion/srv_srv.h"
#include "portico/extension.h"
#include "portico/reader_html.h"
#include "portico/reader_page.h"
#include "portico/text.h"
#include "portico/version_diff.h"

namespace portico {

namespace {

std::string Selector(const ActVersion& v) { return v.after ? ActPath(*v.after) : "pierwotny"; }

std::string VersionChoice(const ReaderAct& act, const char* name, const char* label, std::size_t chosen) {
  std::string s = std::string("<p><label for=\"") + name + "\">" + label + "</label> <select id=\"" + name +
                  "\" name=\"" + name + "\">\n";
  for (std::size_t i = 0; i < act.versions.size(); ++i)
    s += "<option value=\"" + HtmlEscape(Selector(act.versions[i])) + "\"" + (i == chosen ? " selected" : "") + ">" +
         HtmlEscape(VersionLabel(act.versions[i])) + "</option>\n";
  return s + "</select></p>\n";
}

std::string UnitName(const Provision& unit) {
  return std::string(unit.kind == ProvisionKind::kArticle ? "Art. " : "§ ") + DisplayNumber(unit.number);
}

}  // namespace

void ChangesPage(CPorticoExtension& extension, CRequest& request, const ReaderAct& act, std::string_view query) {
  // The version a field names; false when the page has been answered (400 or 404).
  auto choose = [&](const char* name, std::size_t& version) {
    std::optional<std::string> value = QueryField(query, name);
    if (!value) return true;
    std::optional<EliAddress> a = ParseVersionSelector(act.address, *value);
    if (!a) {
      WriteBadRequest(request, std::string("Pole ") + name + "= nie wskazuje wersji aktu: " + RequestText(*value, 60) + ".");
      return false;
    }
    std::optional<std::size_t> v = SelectVersion(act, *a);
    if (!v) {
      WriteNotFound(request, "wersja " + RequestText(*value, 60) + " aktu " + Citation(act.first),
                    EliPath(act.address), "tekst obowiązujący aktu");
      return false;
    }
    version = *v;
    return true;
  };
  std::size_t newer = act.versions.size() - 1;
  if (!choose("na", newer)) return;
  std::size_t older = newer > 0 ? newer - 1 : 0;
  if (!choose("z", older)) return;
  const CSrvSrv& catalogue = extension.Main();
  std::optional<ReaderDocument> a = ReadReaderDocument(catalogue, act.versions[older].index);
  std::optional<ReaderDocument> b = ReadReaderDocument(catalogue, act.versions[newer].index);
  if (!a || !b) return WriteNotFound(request, "tekst aktu " + Citation(act.first));
  const VersionComparison comparison = CompareVersions(a->text, b->text);

  std::string title;
  for (const ActLine& l : b->text.lines)
    if (l.heading == 1 && title.empty()) title = l.text;
  if (title.empty()) title = ShortTitle(b->title);

  std::size_t changed = 0, added = 0, removed = 0;
  for (const ArticleChange& c : comparison.changes)
    (c.kind == ArticleChange::Kind::kChanged ? changed : c.kind == ArticleChange::Kind::kAdded ? added : removed)++;

  const std::string olderPath = VersionPath(act, older), newerPath = VersionPath(act, newer);
  std::string body = SiteHeader({});
  body += "<h1>Zmiany: " + HtmlEscape(title) + "</h1>\n<p class=\"cite\">" + HtmlEscape(Citation(act.first)) +
          "</p>\n</header>\n";
  body += "<nav aria-labelledby=\"wybor\">\n<h2 id=\"wybor\">Porównywane wersje</h2>\n<form method=\"get\" action=\"" +
          HtmlEscape(EliPath(act.address)) + "/zmiany\">\n";
  body += VersionChoice(act, "z", "Wersja wcześniejsza:", older);
  body += VersionChoice(act, "na", "Wersja późniejsza:", newer);
  body += "<p><button type=\"submit\">Porównaj</button></p>\n</form>\n</nav>\n";
  body += "<main id=\"tresc\">\n<h2>Wynik porównania</h2>\n<p>Z: <a href=\"" + HtmlEscape(olderPath) + "\">" +
          HtmlEscape(VersionLabel(act.versions[older])) + "</a>; na: <a href=\"" + HtmlEscape(newerPath) + "\">" +
          HtmlEscape(VersionLabel(act.versions[newer])) + "</a>.</p>\n";
  body += "<p class=\"sum\">Zmienione: " + Decimal(static_cast<std::int64_t>(changed)) +
          ", dodane: " + Decimal(static_cast<std::int64_t>(added)) +
          ", usunięte: " + Decimal(static_cast<std::int64_t>(removed)) +
          ", bez zmian: " + Decimal(static_cast<std::int64_t>(comparison.unchanged)) + ".</p>\n";
  for (const ArticleChange& c : comparison.changes) {
    const ProvisionPath path{c.unit};
    const char* what = c.kind == ArticleChange::Kind::kChanged ? "zmieniony"
                       : c.kind == ArticleChange::Kind::kAdded ? "dodany"
                                                               : "usunięty";
    body += "<section class=\"chg\" id=\"z-" + HtmlEscape(ProvisionFragment(path)) + "\">\n<h3>" + UnitName(c.unit) +
            " (" + what + ")</h3>\n";
    if (c.kind != ArticleChange::Kind::kAdded)
      body += "<h4>Brzmienie dotychczasowe (<a href=\"" + HtmlEscape(olderPath + ProvisionAddress(path)) +
              "\">tekst</a>)</h4>\n<p class=\"old\">" + c.oldHtml + "</p>\n";
    if (c.kind != ArticleChange::Kind::kRemoved)
      body += "<h4>Brzmienie nowe (<a href=\"" + HtmlEscape(newerPath + ProvisionAddress(path)) +
              "\">tekst</a>)</h4>\n<p class=\"new\">" + c.newHtml + "</p>\n";
    body += "</section>\n";
  }
  body += "</main>\n";
  WriteHtmlPage(request, "200 OK", HtmlPage("Zmiany \x96 " + title + " \x96 " + Citation(act.first), {}, body));
}

}  // namespace portico
