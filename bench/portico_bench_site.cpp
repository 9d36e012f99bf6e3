// portico_bench_site CORPUS_DIR OUT_DIR: the site the page benchmark serves.
// Every act of CORPUS_DIR/acts becomes one HTML document (one paragraph per
// line, articles as "<P>Art. N. ..."), every ruling of CORPUS_DIR/rulings a
// ruling document whose references (its "Concerns" lines) name the articles
// of the acts it concerns, keyed so that the act pages find them. Writes
// OUT_DIR/acts.vq, OUT_DIR/registry.reg and the installation directory
// OUT_DIR/site, and prints one line per act: "act INDEX NAME BYTES RULINGS"
// (and one per ruling into OUT_DIR/rulings.txt: "ruling INDEX NAME BYTES").
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "kasten/file_server.h"
#include "platform/file.h"
#include "platform/registry.h"

namespace {

struct Text {
  std::map<std::string, std::vector<std::string>> header;  // key -> values (Concerns repeats)
  std::vector<std::string> lines;
};

Text ReadText(const std::string& path) {
  Text t;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  bool body = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!body) {
      if (line.empty()) {
        body = true;
        continue;
      }
      std::size_t colon = line.find(": ");
      if (colon != std::string::npos) t.header[line.substr(0, colon)].push_back(line.substr(colon + 2));
      continue;
    }
    if (!line.empty()) t.lines.push_back(line);
  }
  return t;
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.substr(n.size() - 4) == ".txt") files.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// "Dz.U. 1964 nr 43 poz. 296" -> {"43", "296", "64"}.
bool Citation(const std::string& journal, std::string& number, std::string& position, std::string& year) {
  unsigned y = 0, n = 0, p = 0;
  if (std::sscanf(journal.c_str(), "Dz.U. %u nr %u poz. %u", &y, &n, &p) != 3) return false;
  number = std::to_string(n);
  position = std::to_string(p);
  char yy[8];
  std::snprintf(yy, sizeof yy, "%02u", y % 100);
  year = yy;
  return true;
}

// "art. 5 ust. 2 pkt 1" -> "ART.5UST2PKT1"; "art. 390 § 1" -> "ART.390§1".
std::string Location(std::string ref) {
  std::string out;
  std::istringstream words(ref);
  std::string w;
  while (words >> w) {
    if (w == "art.") out += "ART.";
    else if (w == "ust.") out += "UST";
    else if (w == "pkt") out += "PKT";
    else if (w == "lit.") out += "LIT";
    else out += w;
  }
  return out;
}

struct Act {
  std::string name, prefix, number, position, html;
  int rulings = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: portico_bench_site CORPUS_DIR OUT_DIR\n";
    return 2;
  }
  const std::string corpus = argv[1], out = argv[2];
  ::mkdir(out.c_str(), 0755);
  ::mkdir((out + "/site").c_str(), 0755);

  std::vector<Act> acts;
  for (const std::string& file : Files(corpus + "/acts")) {
    Text t = ReadText(file);
    Act a;
    std::string year;
    if (t.header["Journal"].empty() || !Citation(t.header["Journal"][0], a.number, a.position, year)) continue;
    a.prefix = "ACT" + std::to_string(acts.size() + 1);
    a.name = a.prefix + "D" + year + a.position + ".HTM";
    std::string title = t.header["Title"].empty() ? a.name : t.header["Title"][0];
    std::string& h = a.html;
    h = "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\r\n<!--LINE Search@ Home@ LinkedDoc=" + a.prefix +
        "@-->\r\n<BODY>\r\n<H1>" + title + "</H1>\r\n";
    for (const std::string& line : t.lines) h += "<P>" + line + "</P>\r\n";
    h += "</BODY></HTML>\r\n";
    acts.push_back(a);
  }

  struct Ruling {
    std::string name, html, keys;
  };
  std::vector<Ruling> rulings;
  for (const std::string& file : Files(corpus + "/rulings")) {
    Text t = ReadText(file);
    std::string signature = t.header["Signature"].empty() ? "?" : t.header["Signature"][0];
    std::string references, keys;
    for (const std::string& concerns : t.header["Concerns"]) {
      std::size_t nr = concerns.rfind("Nr ");
      if (nr == std::string::npos) continue;
      unsigned n = 0, p = 0;
      if (std::sscanf(concerns.c_str() + nr, "Nr %u poz. %u", &n, &p) != 2) continue;
      std::size_t dash = concerns.find(" - ", nr);
      if (dash == std::string::npos) continue;
      std::string list = concerns.substr(dash + 3);
      if (!list.empty() && list.back() == ')') list.pop_back();
      for (Act& a : acts) {
        if (a.number != std::to_string(n) || a.position != std::to_string(p)) continue;
        ++a.rulings;
        keys += (keys.empty() ? "" : ";") + a.prefix + "OO";
        std::size_t start = 0;
        while (start < list.size()) {
          std::size_t comma = list.find(", ", start);
          std::string ref = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
          references += a.prefix + "." + Location(ref) + "=" + signature + "\r\n";
          if (comma == std::string::npos) break;
          start = comma + 2;
        }
      }
    }
    if (keys.empty()) continue;
    std::string title = t.header["Title"].empty() ? signature : t.header["Title"][0];
    std::string h = "<HTML><HEAD><META KEYS=\"" + references + "\"><TITLE>" + title + "</TITLE></HEAD><BODY>\r\n";
    for (const std::string& line : t.lines) h += "<P>" + line + "</P>\r\n";
    h += "</BODY></HTML>\r\n";
    rulings.push_back({"ORZ" + std::to_string(rulings.size() + 1) + ".HTM", h, keys});
  }

  const std::string base = out + "/acts.vq";
  std::remove(base.c_str());
  GUID guid = NewGuid();
  {
    CDocServer server(base.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite);
    auto add = [&server](const std::string& name, const std::string& html, const std::string& keys) {
      CMemFile file(4096);
      file.Write(html.data(), static_cast<UINT>(html.size()));
      file.SeekToBegin();
      _FILEITEM* item = MakeFileItem(name.c_str());
      DWORD index = server.AddFile(file, item, keys.c_str(), 2);
      CFileServer::FreeFileItem(item);
      return index;
    };
    for (const Act& a : acts)
      std::cout << "act " << add(a.name, a.html, a.prefix) << " " << a.name << " " << a.html.size() << " " << a.rulings
                << "\n";
    std::ofstream listed(out + "/rulings.txt", std::ios::binary);
    for (const Ruling& r : rulings)
      listed << "ruling " << add(r.name, r.html, r.keys) << " " << r.name << " " << r.html.size() << "\n";
    server.Close();
  }

  CRegistry registry;
  registry.SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup", "Dir", out + "/site");
  registry.SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion", "1", base);
  std::ofstream(out + "/registry.reg", std::ios::binary) << registry.Serialize();
  std::ofstream(out + "/site/Search.htm", std::ios::binary) << "<HTML><BODY>Search</BODY></HTML>";
  return 0;
}
