#include "demo/act_name.h"

#include <cstdio>

namespace vamucorpus {

std::string ActRef::Prefix() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%c%02d%03d", journal, year % 100, position);
  return buf;
}

std::string ActRef::DocName(const ActRef& version) const { return Prefix() + version.Prefix(); }

std::string ActRef::Citation() const {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s%02d.%d.%d", journal == 'M' ? "M.P." : "Dz.U.", year % 100, number, position);
  return buf;
}

std::string ActRef::LongCitation() const {
  char buf[64];
  int full = year % 100 >= 60 ? 1900 + year % 100 : 2000 + year % 100;
  std::snprintf(buf, sizeof buf, "%s %d nr %d poz. %d", journal == 'M' ? "M.P." : "Dz.U.", full, number, position);
  return buf;
}

std::string RulingName(int year, int serial) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "O%02d%05d", year % 100, serial % 100000);
  return buf;
}

}  // namespace vamucorpus
