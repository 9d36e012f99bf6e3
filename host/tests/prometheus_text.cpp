#include "host/tests/prometheus_text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>

namespace host::test {

namespace {

bool NameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }
bool NameChar(char c) { return NameStart(c) || (c >= '0' && c <= '9'); }

// A metric name (colons allowed) or a label name (no colons) at `at`.
std::string ReadName(const std::string& line, std::size_t& at, bool colons) {
  std::size_t start = at;
  while (at < line.size() && NameChar(line[at]) && (colons || line[at] != ':') &&
         (at > start || (NameStart(line[at]))))
    ++at;
  return line.substr(start, at - start);
}

std::optional<double> ReadValue(const std::string& token) {
  if (token.empty()) return std::nullopt;
  if (token == "+Inf") return HUGE_VAL;
  if (token == "-Inf") return -HUGE_VAL;
  if (token == "NaN") return std::nullopt;  // never expected here
  char* end = nullptr;
  double value = std::strtod(token.c_str(), &end);
  if (end != token.c_str() + token.size()) return std::nullopt;
  // strtod takes "inf", "nan" and hexadecimal too; the format does not.
  for (char c : token)
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) return std::nullopt;
  return value;
}

struct Sample {
  std::string name;
  std::vector<std::pair<std::string, std::string>> labels;
  double value = 0;
};

// One sample line; an error text on failure.
std::string ParseSample(const std::string& line, Sample& s) {
  std::size_t at = 0;
  s.name = ReadName(line, at, true);
  if (s.name.empty()) return "no metric name";
  if (at < line.size() && line[at] == '{') {
    ++at;
    while (true) {
      if (at < line.size() && line[at] == '}') {
        ++at;
        break;
      }
      std::string label = ReadName(line, at, false);
      if (label.empty()) return "bad label name";
      if (label.compare(0, 2, "__") == 0) return "reserved label name " + label;
      if (at + 1 >= line.size() || line[at] != '=' || line[at + 1] != '"') return "label " + label + " without =\"";
      at += 2;
      std::string value;
      while (true) {
        if (at >= line.size()) return "label value not closed";
        char c = line[at++];
        if (c == '"') break;
        if (c == '\\') {
          if (at >= line.size()) return "escape at the end";
          char e = line[at++];
          if (e == 'n') value += '\n';
          else if (e == '\\' || e == '"') value += e;
          else return std::string("unknown escape \\") + e;
        } else {
          value += c;
        }
      }
      for (const auto& [name, _] : s.labels)
        if (name == label) return "label " + label + " twice";
      s.labels.emplace_back(label, value);
      if (at < line.size() && line[at] == ',') ++at;
      else if (at < line.size() && line[at] == '}') continue;
      else return "expected , or } after a label";
    }
  }
  if (at >= line.size() || line[at] != ' ') return "no space before the value";
  while (at < line.size() && line[at] == ' ') ++at;
  std::size_t end = line.find(' ', at);
  std::optional<double> value = ReadValue(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
  if (!value) return "bad value";
  s.value = *value;
  if (end != std::string::npos) {  // a time stamp: an integer
    std::string stamp = line.substr(end + 1);
    if (stamp.empty() || stamp.find_first_not_of("-0123456789") != std::string::npos) return "bad time stamp";
  }
  return {};
}

std::string Key(const std::string& name, std::vector<std::pair<std::string, std::string>> labels) {
  std::sort(labels.begin(), labels.end());
  std::string key = name;
  if (labels.empty()) return key;
  key += '{';
  for (std::size_t i = 0; i < labels.size(); ++i)
    key += (i ? ",": "") + labels[i].first + "=\"" + labels[i].second + "\"";
  return key + '}';
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::optional<double> PrometheusText::Value(const std::string& series) const {
  auto it = samples.find(series);
  if (it == samples.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> PrometheusText::SeriesOf(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& [series, _] : samples)
    if (series == name || series.compare(0, name.size() + 1, name + "{") == 0) out.push_back(series);
  return out;
}

double PrometheusText::Sum(const std::string& name) const {
  double sum = 0;
  for (const std::string& series : SeriesOf(name)) sum += samples.at(series);
  return sum;
}

PrometheusText ParsePrometheusText(const std::string& text) {
  PrometheusText out;
  if (!text.empty() && text.back() != '\n') {
    out.error = "the text does not end with a line end";
    return out;
  }
  std::set<std::string> sampled;     // families that have had samples
  std::set<std::string> helped;      // families with a HELP line
  std::string lastFamily;
  // Histogram family -> (le, cumulative count) of its buckets.
  std::map<std::string, std::vector<std::pair<double, double>>> buckets;
  std::size_t number = 0;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    ++number;
    auto fail = [&](const std::string& why) { out.error = "line " + std::to_string(number) + ": " + why + ": " + line; };
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (line.compare(0, 7, "# HELP ") != 0 && line.compare(0, 7, "# TYPE ") != 0) continue;  // a plain comment
      std::size_t pos = 7;
      std::string name = ReadName(line, pos, true);
      if (name.empty() || pos >= line.size() || line[pos] != ' ') {
        fail("bad name in a HELP or TYPE line");
        return out;
      }
      const std::string rest = line.substr(pos + 1);
      if (line[2] == 'H') {
        if (!helped.insert(name).second) {
          fail("second HELP");
          return out;
        }
        continue;
      }
      static const std::set<std::string> kTypes = {"counter", "gauge", "histogram", "summary", "untyped"};
      if (!kTypes.count(rest)) {
        fail("unknown type");
        return out;
      }
      if (out.types.count(name)) {
        fail("second TYPE");
        return out;
      }
      if (sampled.count(name)) {
        fail("TYPE after the family's samples");
        return out;
      }
      out.types[name] = rest;
      continue;
    }
    Sample s;
    if (std::string why = ParseSample(line, s); !why.empty()) {
      fail(why);
      return out;
    }
    std::string family = s.name;
    for (const char* suffix : {"_bucket", "_sum", "_count"})
      if (EndsWith(s.name, suffix)) {
        std::string base = s.name.substr(0, s.name.size() - std::string(suffix).size());
        auto type = out.types.find(base);
        if (type != out.types.end() && (type->second == "histogram" || type->second == "summary")) family = base;
      }
    if (family != lastFamily && sampled.count(family)) {
      fail("the family's samples are not together");
      return out;
    }
    sampled.insert(family);
    lastFamily = family;
    const std::string key = Key(s.name, s.labels);
    if (!out.samples.emplace(key, s.value).second) {
      fail("series twice");
      return out;
    }
    if (family != s.name && EndsWith(s.name, "_bucket")) {
      auto le = std::find_if(s.labels.begin(), s.labels.end(), [](const auto& l) { return l.first == "le"; });
      std::optional<double> bound = le == s.labels.end() ? std::nullopt : ReadValue(le->second);
      if (!bound) {
        fail("bucket without a valid le");
        return out;
      }
      buckets[family].emplace_back(*bound, s.value);
    }
  }
  for (auto& [family, list] : buckets) {
    std::sort(list.begin(), list.end());
    for (std::size_t i = 1; i < list.size(); ++i)
      if (list[i].second < list[i - 1].second) {
        out.error = family + ": buckets not cumulative";
        return out;
      }
    std::optional<double> count = out.Value(family + "_count");
    if (list.empty() || list.back().first != HUGE_VAL || !count || *count != list.back().second ||
        !out.Value(family + "_sum")) {
      out.error = family + ": no +Inf bucket equal to _count, or no _sum";
      return out;
    }
  }
  return out;
}

}  // namespace host::test
