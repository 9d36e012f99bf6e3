#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
MessageSink g_sink;
}  // namespace

void MessageBox(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (g_sink) {
    g_sink(text, caption);
    return;
  }
  std::string line = caption + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

MessageSink SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  MessageSink previous = std::move(g_sink);
  g_sink = std::move(sink);
  return previous;
}
