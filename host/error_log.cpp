#include "host/error_log.h"

#include "platform/message_box.h"

namespace host {

namespace {

std::string& LogName() {
  static std::string name = "vamuserver";
  return name;
}

}  // namespace

void SetLogName(const std::string& name) { LogName() = name; }

void LogError(const std::string& text) { MessageBox(text, LogName()); }

}  // namespace host
