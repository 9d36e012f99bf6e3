// The JSON API, GET /api/v1/...: the acts of a journal's year, one act with
// its versions, table of contents, rulings per provision and related acts,
// the text of a provision, and the search of the Search page. Described in
// docs/api.md and docs/openapi.json (a test checks the responses against
// it). Every text is made in windows-1250 and converted to UTF-8 here, once,
// as it goes into the JSON (nlohmann::json wants UTF-8).
#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "biblion/srv_srv.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/reader_html.h"
#include "portico/reader_page.h"
#include "portico/request.h"
#include "portico/search_cache.h"
#include "portico/text.h"
#include "portico/utf8.h"

namespace portico {

namespace {

using json = nlohmann::json;

constexpr const char* kJson = "application/json; charset=utf-8";
// Acts listed per request at most, and results of a search (the Search page's limit).
constexpr int kMaxListed = 500;
constexpr int kMaxResults = 100;

json Text(std::string_view cp1250) { return Utf8FromCp1250(cp1250); }

// "<", ">" and "&" occur only inside strings and go out as \u escapes, so
// that no response can be taken for markup, whatever a browser guesses.
void WriteJson(CRequest& request, const char* status, const json& body) {
  const std::string text = body.dump(-1, ' ', false, json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<') out += "\\u003c";
    else if (c == '>') out += "\\u003e";
    else if (c == '&') out += "\\u0026";
    else out += c;
  }
  WriteUtf8Response(request, status, kJson, out);
}

void WriteError(CRequest& request, int code, std::string_view message) {
  const char* status = code == 404 ? "404 Not Found" : "400 Bad Request";
  WriteJson(request, status, json{{"status", code}, {"blad", Text(message)}});
}

// A whole number field within [low, high]; `fallback` when absent; nothing
// when present but not such a number.
std::optional<int> NumberField(std::string_view query, const char* name, int fallback, int low, int high) {
  std::optional<std::string> v = QueryField(query, name);
  if (!v) return fallback;
  if (v->empty() || v->size() > 9) return std::nullopt;
  int n = 0;
  for (char c : *v) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < low || n > high) return std::nullopt;
  return n;
}

json ActJson(const ActAddress& a) {
  return json{{"adres", EliPath(a)}, {"dziennik", *JournalCode(a.journal)}, {"rok", a.year}, {"pozycja", a.position}};
}

json VersionJson(const ReaderAct& act, std::size_t i, std::size_t shown) {
  const ActVersion& v = act.versions[i];
  json j{{"adres", VersionPath(act, i)},
         {"etykieta", Text(VersionLabel(v))},
         {"obowiazujaca", i + 1 == act.versions.size()},
         {"wyswietlana", i == shown}};
  j["zmiana"] = v.after ? json{{"adres", EliPath(*v.after)}, {"cytat", Text(Citation(v.second))}} : json(nullptr);
  return j;
}

std::string ActTitle(const ReaderDocument& doc) {
  for (const ActLine& l : doc.text.lines)
    if (l.heading == 1) return l.text;
  return ShortTitle(doc.title);
}

json ProvisionJson(const ReaderAct& act, std::size_t version, const ProvisionPath& p) {
  return json{{"przepis", Text(ProvisionCitation(p))}, {"adres", VersionPath(act, version) + ProvisionAddress(p)}};
}

// GET /api/v1/akty/{DU|MP}/{rok}
void ActsOfYear(CPorticoExtension& extension, CRequest& request, std::string_view journal, std::string_view yearText,
                std::string_view query) {
  std::optional<DWORD> kind = JournalOfCode(journal);
  int year = 0;
  for (char c : yearText) year = (c >= '0' && c <= '9' && year < 100000) ? year * 10 + (c - '0') : -1;
  std::optional<unsigned> two = yearText.size() == 4 && year > 0 ? TwoDigitYear(year) : std::nullopt;
  if (!kind || !two) return WriteError(request, 404, "Nie ma takiego rocznika: " + RequestText(journal, 8) + "/" + RequestText(yearText, 8));
  std::optional<int> start = NumberField(query, "start", 1, 1, 1 << 20);
  std::optional<int> length = NumberField(query, "dlugosc", 100, 1, kMaxListed);
  if (!start || !length) return WriteError(request, 400, "Pola start= i dlugosc= przyjmują liczby (dlugosc do 500).");
  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  // One entry per act: its latest document (entries of an act lie together).
  struct Found {
    _RNP first;
    DWORD index;
    int versions;
  };
  std::vector<Found> acts;
  for (const biblion::ActEntry& e : catalogue.GetActEntries()) {
    _RNP first(e.dwFirst), second(e.dwSecond);
    if (first.Kind() != *kind || first.Year() != *two) continue;
    if (second.Kind() != _RNP::kDzU && second.Kind() != _RNP::kMP) continue;
    if (!acts.empty() && acts.back().first.Position() == first.Position()) {
      ++acts.back().versions;
      continue;
    }
    acts.push_back({first, e.dwIndex, 1});
  }
  json list = json::array();
  const std::size_t from = static_cast<std::size_t>(*start - 1);
  for (std::size_t i = from; i < acts.size() && i < from + static_cast<std::size_t>(*length); ++i) {
    ActAddress a{*kind, year, static_cast<int>(acts[i].first.Position())};
    json j = ActJson(a);
    j["numer"] = acts[i].first.Number();
    j["cytat"] = Text(Citation(acts[i].first));
    j["tytul"] = Text(ShortTitle(catalogue.GetTitleOf(acts[i].index)));
    j["wersje"] = acts[i].versions;
    list.push_back(std::move(j));
  }
  WriteJson(request, "200 OK",
            json{{"dziennik", std::string(journal)}, {"rok", year}, {"razem", acts.size()}, {"start", *start},
                 {"akty", std::move(list)}});
}

// GET /api/v1/eli/... : an act (one version) or a provision of it.
void EliJson(CPorticoExtension& extension, CRequest& request, std::string_view eliPath) {
  std::optional<EliAddress> address = ParseEliAddress(eliPath);
  if (!address || address->changes) return WriteError(request, 404, "Nie ma takiego adresu: " + RequestText(eliPath));
  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  std::optional<ReaderAct> act = FindReaderAct(catalogue, address->act);
  if (!act) return WriteError(request, 404, "Nie ma aktu " + EliPath(address->act));
  std::optional<std::size_t> version = SelectVersion(*act, *address);
  if (!version) return WriteError(request, 404, "Akt " + EliPath(act->address) + " nie ma takiej wersji");
  std::optional<ReaderDocument> doc = ReadReaderDocument(catalogue, act->versions[*version].index);
  if (!doc) return WriteError(request, 404, "Nie ma tekstu aktu " + EliPath(act->address));

  json j = ActJson(act->address);
  j["numer"] = act->first.Number();
  j["cytat"] = Text(Citation(act->first));
  j["tytul"] = Text(ActTitle(*doc));
  j["wersja"] = VersionJson(*act, *version, *version);

  if (!address->provisions.empty()) {
    std::vector<std::size_t> lines = doc->text.LinesOf(address->provisions);
    if (lines.empty())
      return WriteError(request, 404,
                        "Nie ma przepisu " + ProvisionCitation(address->provisions) + " w akcie " + EliPath(act->address));
    j["przepis"] = ProvisionJson(*act, *version, address->provisions);
    std::string text;
    json parts = json::array();
    for (std::size_t i : lines) {
      const ActLine& l = doc->text.lines[i];
      text += (text.empty() ? "" : "\n") + l.text;
      parts.push_back(json{{"przepis", Text(ProvisionCitation(l.path))}, {"tekst", Text(l.text)}});
    }
    j["tekst"] = Text(text);
    j["czesci"] = std::move(parts);
    return WriteJson(request, "200 OK", j);
  }

  json versions = json::array();
  for (std::size_t i = 0; i < act->versions.size(); ++i) versions.push_back(VersionJson(*act, i, *version));
  j["wersje"] = std::move(versions);
  json contents = json::array();
  for (const TocEntry& e : doc->contents)
    contents.push_back(json{{"poziom", e.level}, {"tytul", Text(e.caption)}, {"kotwica", Text(e.anchor)}});
  j["spis"] = std::move(contents);

  // The rulings, and per provision of this text the rulings on it.
  std::vector<ReaderRuling> rulings = ReadRulings(catalogue, doc->storedName);
  std::map<std::string, std::size_t> present;
  std::vector<ProvisionPath> order = doc->text.Provisions();
  for (std::size_t i = 0; i < order.size(); ++i) present.emplace(ProvisionFragment(order[i]), i);
  std::map<std::size_t, json> byProvision;  // by place in the text
  json list = json::array();
  for (std::size_t r = 0; r < rulings.size(); ++r) {
    json places = json::array();
    for (const ProvisionPath& p : rulings[r].places) {
      auto it = present.find(ProvisionFragment(p));
      json place{{"przepis", Text(ProvisionCitation(p))},
                 {"adres", it == present.end() ? json(nullptr) : json(VersionPath(*act, *version) + ProvisionAddress(p))}};
      places.push_back(std::move(place));
      if (it == present.end()) continue;
      json& entry = byProvision[it->second];
      if (entry.is_null()) entry = ProvisionJson(*act, *version, p), entry["orzeczenia"] = json::array();
      entry["orzeczenia"].push_back(r);
    }
    list.push_back(json{{"tytul", Text(rulings[r].title)},
                        {"dokument", "/portico.dll?Topic&" + Decimal(rulings[r].index)},
                        {"caly_akt", rulings[r].places.empty()},
                        {"przepisy", std::move(places)}});
  }
  j["orzeczenia"] = std::move(list);
  json perProvision = json::array();
  for (auto& [place, entry] : byProvision) perProvision.push_back(std::move(entry));
  j["orzeczenia_przepisow"] = std::move(perProvision);
  json related = json::array();
  for (const RelatedAct& r : ReadRelatedActs(catalogue, *doc, act->address)) {
    json a = ActJson(r.address);
    a["tytul"] = Text(r.title);
    related.push_back(std::move(a));
  }
  j["powiazane"] = std::move(related);
  WriteJson(request, "200 OK", j);
}

// "%XX" for every byte but letters and digits, as the Search page's fields decode it.
std::string FieldEncode(std::string_view text) {
  return PercentEscaped(text, [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// GET /api/v1/szukaj: the Search page's query and options. Years are given
// with four digits; a range across 2000 runs as two searches of the page.
// Fragments of the text are given where the search offers them (it offers
// none yet: "fragmenty" is null).
void SearchJson(CPorticoExtension& extension, CRequest& request, std::string_view query) {
  std::string pattern;
  if (std::optional<std::string> q = QueryField(query, "q")) {
    std::optional<std::string> cp = Cp1250FromUtf8(*q);
    if (!cp) return WriteError(request, 400, "Pole q= nie jest tekstem UTF-8 w znakach polskich.");
    pattern = *cp;
  }
  int journals = 0;
  if (std::optional<std::string> d = QueryField(query, "dziennik")) {
    if (*d == "DU") journals = 1;
    else if (*d == "MP") journals = 2;
    else if (*d != "wszystkie") return WriteError(request, 400, "Pole dziennik= przyjmuje DU, MP lub wszystkie.");
  }
  const int firstYear = kFirstYear, lastYear = kFirstYear + 99;
  std::optional<int> yearFrom = NumberField(query, "rok_od", firstYear, firstYear, lastYear);
  std::optional<int> yearTo = NumberField(query, "rok_do", lastYear, firstYear, lastYear);
  std::optional<int> posFrom = NumberField(query, "poz_od", 1, 1, 2000), posTo = NumberField(query, "poz_do", 2000, 1, 2000);
  std::optional<int> nrFrom = NumberField(query, "nr_od", 1, 1, 2000), nrTo = NumberField(query, "nr_do", 2000, 1, 2000);
  std::optional<int> mode = NumberField(query, "zmiany", 0, 0, 2);
  std::optional<int> start = NumberField(query, "start", 1, 1, 1 << 20);
  std::optional<int> length = NumberField(query, "dlugosc", 20, 1, kMaxResults);
  if (!yearFrom || !yearTo || !posFrom || !posTo || !nrFrom || !nrTo || !mode || !start || !length)
    return WriteError(request, 400, "Pola liczbowe poza zakresem (zob. /api/v1 w docs/api.md).");

  // The Search page's argument string for years lo..hi (two digits).
  auto arguments = [&](int lo, int hi) {
    return "Pattern=" + FieldEncode(pattern) + "&Zmiany=" + Decimal(*mode) + "&TypyDoc=" + Decimal(journals) +
           "&OD=" + Decimal(lo) + "&DO=" + Decimal(hi) + "&ODP=" + Decimal(*posFrom) + "&DOP=" + Decimal(*posTo) +
           "&ODN=" + Decimal(*nrFrom) + "&DON=" + Decimal(*nrTo);
  };
  std::vector<DWORD> results;
  if (*yearFrom <= *yearTo) {
    const int lo = *yearFrom % 100, hi = *yearTo % 100;
    const bool crossesCentury = *yearFrom / 100 != *yearTo / 100;
    std::vector<std::pair<int, int>> ranges =
        crossesCentury ? std::vector<std::pair<int, int>>{{lo, 99}, {0, hi}} : std::vector<std::pair<int, int>>{{lo, hi}};
    for (const auto& [a, b] : ranges) {
      CSearchCache::List list = SearchResults(extension, arguments(a, b));
      if (!list)
        return WriteError(request, 400, "Zapytanie jest zbyt złożone, by je wykonać (mniej wyrazów, wzorców z * i ? lub fraz).");
      std::vector<DWORD> merged;
      std::set_union(results.begin(), results.end(), list->begin(), list->end(), std::back_inserter(merged));
      results = std::move(merged);
    }
  }
  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  json found = json::array();
  const std::size_t from = static_cast<std::size_t>(*start - 1);
  for (std::size_t i = from; i < results.size() && i < from + static_cast<std::size_t>(*length); ++i) {
    FileItemPtr item(catalogue.GetItem(results[i]));
    if (!item) continue;
    const std::string name = StoredName(item.get());
    std::string shortName(LastComponent(name));
    if (std::size_t dot = shortName.rfind('.'); dot != std::string::npos) shortName.resize(dot);
    json r{{"tytul", Text(catalogue.GetTitleOf(results[i]))},
           {"dokument", "/portico.dll?Topic&" + Utf8FromCp1250(PercentEncode(shortName))},
           {"fragmenty", nullptr}};
    std::optional<ItemAddress> a = AddressOfItemName(name);
    r["adres"] = a ? json(EliPath(a->act)) : json(nullptr);
    r["adres_wersji"] = a ? json(EliVersionPath(a->act, a->after)) : json(nullptr);
    found.push_back(std::move(r));
  }
  WriteJson(request, "200 OK",
            json{{"q", Text(pattern)}, {"razem", results.size()}, {"start", *start}, {"wyniki", std::move(found)}});
}

}  // namespace

void ApiPage(CPorticoExtension& extension, CRequest& request, std::string_view path, std::string_view query) {
  constexpr std::string_view kRoot = "/api/v1";
  if (path.substr(0, kRoot.size()) != kRoot) return WriteError(request, 404, "Nie ma takiego adresu API: " + RequestText(path));
  std::string_view rest = path.substr(kRoot.size());
  if (rest.substr(0, 5) == "/eli/") return EliJson(extension, request, rest);
  if (rest == "/szukaj") return SearchJson(extension, request, query);
  if (rest.substr(0, 6) == "/akty/") {
    std::string_view tail = rest.substr(6);
    std::size_t slash = tail.find('/');
    if (slash != std::string_view::npos && tail.find('/', slash + 1) == std::string_view::npos)
      return ActsOfYear(extension, request, tail.substr(0, slash), tail.substr(slash + 1), query);
  }
  WriteError(request, 404, "Nie ma takiego adresu API: " + RequestText(path));
}

}  // namespace portico
