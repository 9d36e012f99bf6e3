#include "bench/corpus_gen.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef VAMU_SOURCE_DIR
#define VAMU_SOURCE_DIR "."
#endif

namespace bench {

std::string CorpusGenerator::DefaultCorpusDir() {
  const char* env = std::getenv("VAMU_CORPUS");
  return env && *env ? env : std::string(VAMU_SOURCE_DIR) + "/demo/corpus";
}

CorpusGenerator::CorpusGenerator(const std::string& corpusDir) {
  std::vector<std::string> files;
  if (DIR* d = opendir((corpusDir + "/acts").c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.substr(n.size() - 4) == ".txt") files.push_back(corpusDir + "/acts/" + n);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string line, title;
    bool body = false;
    Article current{m_titles.size(), {}};
    while (std::getline(in, line)) {
      if (!body) {
        if (line.rfind("Title: ", 0) == 0) title = line.substr(7);
        if (line.empty()) body = true;
        continue;
      }
      if (line.rfind("Art. ", 0) == 0) {
        if (!current.text.empty()) m_articles.push_back(current);
        current.text.clear();
      }
      if (!line.empty()) current.text += line + "\n";
    }
    if (!current.text.empty()) m_articles.push_back(current);
    m_titles.push_back(title);
  }
}

GeneratedDoc CorpusGenerator::Make(std::size_t i) const {
  GeneratedDoc doc;
  if (m_articles.empty()) return doc;
  // A cheap mix of i decides where the run starts and how long it is.
  std::uint64_t x = (i + 1) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  std::size_t start = static_cast<std::size_t>(x % m_articles.size());
  std::size_t length = 3 + static_cast<std::size_t>((x >> 17) % 40);
  const std::size_t act = m_articles[start].act;
  // Names follow the journal scheme "D" + two-digit year + position, with the
  // journal number in the title's citation: 1000 positions in each of 40 years.
  const unsigned year = 60 + static_cast<unsigned>(i / 1000 % 40);
  const unsigned position = 1 + static_cast<unsigned>(i % 1000);
  const unsigned number = 1 + position / 10;
  char name[32], cite[64];
  std::snprintf(name, sizeof name, "D%02u%04u.HTM", year % 100, position);
  std::snprintf(cite, sizeof cite, "Dz.U.%02u.%u.%u", year % 100, number, position);
  doc.name = name;
  doc.keys = std::string(name, 7) + ";" + cite;
  std::string& h = doc.html;
  h.reserve(length * 1200);
  h += "<HTML><HEAD><TITLE>" + m_titles[act] + " (" + cite + ")</TITLE></HEAD>\r\n<BODY>\r\n";
  h += "<H3>" + m_titles[act] + "</H3>\r\n";
  for (std::size_t k = start; k < m_articles.size() && k < start + length && m_articles[k].act == act; ++k) {
    std::istringstream lines(m_articles[k].text);
    std::string line;
    while (std::getline(lines, line)) h += "<P>" + line + "</P>\r\n";
  }
  h += "</BODY></HTML>\r\n";
  return doc;
}

}  // namespace bench
