// A ResponseChannel that records what the extension driver sends, for the
// unit tests of the driver.
#pragma once

#include <string>
#include <vector>

#include "host/response_channel.h"

namespace host::test {

struct FakeChannel : ResponseChannel {
  std::vector<ResponseHead> heads;
  std::string body;
  int writes = 0;
  int failAfterWrites = -1;  // writes that succeed before the client "goes away"
  bool finished = false;
  bool aborted = false;

  bool SendHead(const ResponseHead& head) override {
    heads.push_back(head);
    return failAfterWrites != 0;
  }
  bool Write(const char* data, std::size_t size) override {
    if (failAfterWrites >= 0 && writes >= failAfterWrites) return false;
    ++writes;
    body.append(data, size);
    return true;
  }
  void Finish() override { finished = true; }
  void Abort() override { aborted = true; }
};

}  // namespace host::test
