// The modal message box of a desktop program becomes one line on standard
// error, "caption: text": a server has no console to show it on. Tests and
// tools may take the messages instead with SetMessageSink.
#pragma once

#include <functional>
#include <string>

// Shows (logs) a message. Safe from any thread.
void MessageBox(const std::string& text, const std::string& caption);

// Replaces where messages go; an empty function restores standard error.
// Returns the previous sink.
using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;
MessageSink SetMessageSink(MessageSink sink);
