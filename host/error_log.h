// The server's error log: one line on standard error per event, through the
// platform message box so tests can collect the lines. Access lines go to the
// access log instead (access_log.h).
#pragma once

#include <string>

#include "platform/message_box.h"

namespace host {

inline void LogError(const std::string& text) { MessageBox(text, "vamuserver"); }

}  // namespace host
