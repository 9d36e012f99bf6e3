// A reader of the Prometheus text exposition format, written for the tests
// from the format's description and independent of the code that writes
// it: every line is a comment (# HELP / # TYPE), a sample or empty; names and
// label names follow the format's character rules, label values use only
// the escapes \\ \" \n; a family's TYPE comes at most once and before its
// samples; no series appears twice; a histogram's buckets are cumulative
// and its +Inf bucket equals its _count. A violation is reported with its
// line, never skipped.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host::test {

struct PrometheusText {
  // "name{a=\"x\",b=\"y\"}" (labels in the order written) -> value.
  std::map<std::string, double> samples;
  // Family name -> its TYPE.
  std::map<std::string, std::string> types;
  // The first violation, or empty.
  std::string error;

  bool Ok() const { return error.empty(); }
  // The value of a series, nothing when absent.
  std::optional<double> Value(const std::string& series) const;
  // The sum of every series of `name` (whatever its labels).
  double Sum(const std::string& name) const;
  // The series of `name`, each as written.
  std::vector<std::string> SeriesOf(const std::string& name) const;
};

PrometheusText ParsePrometheusText(const std::string& text);

}  // namespace host::test
