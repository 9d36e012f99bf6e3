// Loading the extension library and driving whole requests through it in
// process, with the test extension.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/extension_module.h"
#include "host/extension_request.h"
#include "host/tests/fake_channel.h"
#include "host/url_map_filter.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace host {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Collects the error log while a test runs.
struct ErrorLines {
  std::vector<std::string> lines;
  MessageSink previous;
  ErrorLines() {
    previous = SetMessageSink([this](const std::string& text, const std::string&) { lines.push_back(text); });
  }
  ~ErrorLines() { SetMessageSink(previous); }
};

TEST(ExtensionModule, LoadsAndReportsTheVersion) {
  ExtensionModule module;
  std::string error;
  ASSERT_TRUE(module.Load(TEST_EXTENSION_PATH, &error)) << error;
  EXPECT_EQ(module.Version().dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(module.Version().lpszExtensionDesc, "Vamu test extension");
  EXPECT_TRUE(module.HasFilter());
  EXPECT_EQ(module.FilterFlags(), DWORD(SF_NOTIFY_ORDER_LOW | SF_NOTIFY_URL_MAP));
  EXPECT_EQ(module.FilterVersion().dwServerFilterVersion, DWORD(HTTP_FILTER_REVISION));
  EXPECT_FALSE(module.Load(TEST_EXTENSION_PATH, &error)) << "one library per module";
}

TEST(ExtensionModule, LoadFailuresAreReportedAndLeaveNothingLoaded) {
  ExtensionModule module;
  std::string error;
  EXPECT_FALSE(module.Load("/nonexistent/libportico.so", &error));
  EXPECT_NE(error.find("cannot load"), std::string::npos) << error;
  EXPECT_FALSE(module.IsLoaded());

  EXPECT_FALSE(module.Load(NOT_AN_EXTENSION_PATH, &error));
  EXPECT_NE(error.find("does not export GetExtensionVersion HttpExtensionProc TerminateExtension"), std::string::npos)
      << error;
  EXPECT_FALSE(module.IsLoaded());

  ::setenv("VAMU_TEST_EXT_REFUSE", "1", 1);
  EXPECT_FALSE(module.Load(TEST_EXTENSION_PATH, &error));
  ::unsetenv("VAMU_TEST_EXT_REFUSE");
  EXPECT_NE(error.find("GetExtensionVersion returned FALSE"), std::string::npos) << error;
  EXPECT_FALSE(module.IsLoaded());
}

TEST(ExtensionModule, TerminatesOnceBeforeUnloading) {
  std::optional<std::string> marker = CreateTempFile(TempDirectory());
  ASSERT_TRUE(marker);
  ::setenv("VAMU_TEST_EXT_MARKER", marker->c_str(), 1);
  {
    ExtensionModule module;
    ASSERT_TRUE(module.Load(TEST_EXTENSION_PATH, nullptr));
    module.Terminate();
    module.Terminate();
    module.Unload();
    EXPECT_FALSE(module.IsLoaded());
  }
  ::unsetenv("VAMU_TEST_EXT_MARKER");
  EXPECT_EQ(ReadAll(*marker), "terminate\nunload\n");
  std::remove(marker->c_str());
}

struct RunFixture : ::testing::Test {
  ExtensionModule module;
  RequestInfo request;
  test::FakeChannel channel;
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(TEST_EXTENSION_PATH, &error)) << error;
    request.method = "GET";
    request.headers = {{"User-Agent", std::string(100, 'M')}};
  }
  ExtensionOutcome Run(const std::string& query) {
    request.queryString = query;
    ExtensionCall call(request, channel);
    return call.Run(module);
  }
};

TEST_F(RunFixture, AgentLandsInTheLogFieldCutTo79Characters) {
  ExtensionOutcome out = Run("agent");
  EXPECT_EQ(out.logData, std::string(79, 'M'));
  EXPECT_EQ(out.status, 200);
  EXPECT_EQ(channel.body, "ok");
  EXPECT_TRUE(channel.finished);
}

TEST_F(RunFixture, ExceptionIsLoggedWithTheQueryStringAndAnswered500) {
  ErrorLines errors;
  ExtensionOutcome out = Run("throw&x=1");
  EXPECT_TRUE(out.threw);
  EXPECT_EQ(out.result, DWORD(HSE_STATUS_ERROR));
  EXPECT_EQ(out.status, 500);
  ASSERT_EQ(errors.lines.size(), 1u);
  EXPECT_NE(errors.lines[0].find("test failure"), std::string::npos);
  EXPECT_NE(errors.lines[0].find("throw&x=1"), std::string::npos);
}

TEST_F(RunFixture, ExceptionOfAnyTypeIsCaught) {
  ErrorLines errors;
  EXPECT_TRUE(Run("throwint").threw);
  ASSERT_EQ(errors.lines.size(), 1u);
  EXPECT_NE(errors.lines[0].find("throwint"), std::string::npos);
}

TEST_F(RunFixture, ExceptionAfterOutputAbortsTheResponse) {
  ErrorLines errors;
  ExtensionOutcome out = Run("throwafter&1000");
  EXPECT_TRUE(out.aborted);
  EXPECT_EQ(channel.body.size(), 1000u);
  EXPECT_TRUE(channel.aborted);
}

TEST_F(RunFixture, AsynchronousCompletionIsRefusedAndLogged) {
  ErrorLines errors;
  ExtensionOutcome out = Run("pending");
  EXPECT_EQ(out.status, 500);
  ASSERT_EQ(errors.lines.size(), 1u);
  EXPECT_NE(errors.lines[0].find("asynchronous"), std::string::npos);
}

TEST_F(RunFixture, FilterMapsUrls) {
  std::string path = "/srv/site/filtered.htm";
  EXPECT_TRUE(MapUrlThroughFilter(module, request, "/filtered.htm", &path));
  EXPECT_EQ(path, "/srv/site/default.htm");
  path = "/srv/site/Home.htm";
  EXPECT_TRUE(MapUrlThroughFilter(module, request, "/Home.htm", &path));
  EXPECT_EQ(path, "/srv/site/Home.htm");
  ErrorLines errors;
  EXPECT_FALSE(MapUrlThroughFilter(module, request, "/filtererror.htm", &path));
  EXPECT_EQ(errors.lines.size(), 1u);
}

}  // namespace
}  // namespace host
