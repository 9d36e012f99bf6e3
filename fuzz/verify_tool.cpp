#include "fuzz/verify_tool.h"

#include <iostream>
#include <sstream>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/exceptions.h"
#include "tools/vamubase/command.h"

namespace fuzz {

bool VerifySaysHealthy(const std::string& path, bool index) {
  static const vamubase::Command* verify = vamubase::FindCommand("verify");
  FUZZ_REQUIRE(verify, "vamubase has no verify command");
  std::ostringstream sink;
  std::streambuf* out = std::cout.rdbuf(sink.rdbuf());
  std::streambuf* err = std::cerr.rdbuf(sink.rdbuf());
  std::vector<std::string> args = {"-q", path};
  if (index) args.insert(args.begin(), "--index");
  int status;
  try {
    status = verify->run(args);
  } catch (const CException&) {
    status = vamubase::kFailed;  // the tool's main reports it as a failure too
  }
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
  QuietMessages();  // the tool set a sink of its own
  FUZZ_REQUIRE(status == vamubase::kOk || status == vamubase::kFailed, "verify ended with usage status");
  return status == vamubase::kOk;
}

}  // namespace fuzz
