// Starting and stopping the server: the command line, an extension that will
// not load, and a clean stop on SIGTERM while requests run.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "host/tests/server_fixture.h"

namespace host::test {
namespace {

using Lifecycle = ServerTest;
using Clock = std::chrono::steady_clock;

TEST(CommandLine, HelpDescribesTheOptions) {
  ProgramResult r = RunProgram({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* option : {"--port", "--bind", "--threads", "--registry", "--log", "--extension"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(CommandLine, BadArgumentsExitWithTwo) {
  ProgramResult r = RunProgram({"--port", "99999"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("bad value for --port"), std::string::npos) << r.err;
  EXPECT_EQ(RunProgram({"--frobnicate"}).exitCode, 2);
}

TEST_F(Lifecycle, StartFailuresExitWithOneAndAReason) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    const char* reason;
  } cases[] = {
      {{"--extension", "/nonexistent/libportico.so"}, {}, "cannot load /nonexistent/libportico.so"},
      {{"--extension", NOT_AN_EXTENSION_PATH}, {}, "does not export GetExtensionVersion"},
      {{"--extension", TEST_EXTENSION_PATH}, {"VAMU_TEST_EXT_REFUSE=1"}, "GetExtensionVersion returned FALSE"},
      {{"--extension", TEST_EXTENSION_PATH, "--bind", "not-an-address"}, {}, "bad bind address"},
      {{"--extension", TEST_EXTENSION_PATH, "--log", "/nonexistent/dir/access.log"}, {}, "cannot open the access log"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--port", "0", "--registry", site.registry};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramResult r = RunProgram(args, c.env);
    EXPECT_EQ(r.exitCode, 1) << c.reason;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
  Site::WriteFile(site.registry, "REGEDIT4\r\n");
  ProgramResult noDir = RunProgram({"--port", "0", "--registry", site.registry, "--extension", TEST_EXTENSION_PATH});
  EXPECT_EQ(noDir.exitCode, 1);
  EXPECT_NE(noDir.err.find("names no installation directory"), std::string::npos) << noDir.err;
}

TEST_F(Lifecycle, DefaultExtensionLiesBesideTheProgramAndLogCanGoToStandardOutput) {
  // An installation in miniature: bin/vamuserver and lib/libportico.so.
  std::filesystem::create_directories(site.base + "/bin");
  std::filesystem::create_directories(site.base + "/lib");
  std::filesystem::copy_file(VAMUSERVER_PATH, site.base + "/bin/vamuserver");
  std::filesystem::copy_file(TEST_EXTENSION_PATH, site.base + "/lib/libportico.so");
  ASSERT_TRUE(server.StartProgram(site.base + "/bin/vamuserver", site, {"--log", "-"}));
  EXPECT_EQ(Fetch(Port(), "/portico.dll?log&stdout-line").Status(), 200);
  std::string out = server.ReadOutput(1s);
  EXPECT_NE(out.find("\"GET /portico.dll?log&stdout-line HTTP/1.1\" 200 2 \"stdout-line\""), std::string::npos) << out;
}

TEST_F(Lifecycle, SigtermLetsRunningRequestsFinishThenStopsTheExtension) {
  StartServer();
  const std::string entered = site.base + "/entered";
  auto running =
      std::async(std::launch::async, [&] { return Fetch(Port(), "/portico.dll?" + SlowCommand(700, entered)); });
  Client idle(Port());
  EXPECT_EQ(idle.Get("/").Status(), 200);
  ASSERT_TRUE(WaitForText(entered, "entered")) << "the slow request is inside the extension";

  server.Signal(SIGTERM);
  EXPECT_TRUE(idle.ClosedByServer(2s)) << "idle connections are closed at once";
  Response r = running.get();
  EXPECT_EQ(r.Status(), 200);
  EXPECT_EQ(r.Body(), "done");
  EXPECT_FALSE(Client(Port()).Connected()) << "no new connections";
  EXPECT_EQ(server.Wait(5s), 0);
  EXPECT_EQ(Site::ReadFile(site.marker), "terminate\nunload\n");
}

TEST_F(Lifecycle, RequestsBeyondTheShutdownTimeoutLeaveTheExtensionLoaded) {
  StartServer({"--shutdown-timeout", "0.3"});
  const std::string entered = site.base + "/entered";
  auto running =
      std::async(std::launch::async, [&] { return Fetch(Port(), "/portico.dll?" + SlowCommand(3000, entered)); });
  ASSERT_TRUE(WaitForText(entered, "entered"));
  auto start = Clock::now();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(5s), 1);
  EXPECT_LT(Clock::now() - start, 2s);
  // Stopped, but not unloaded under a request that is still running.
  EXPECT_EQ(Site::ReadFile(site.marker), "terminate\n");
  EXPECT_NE(running.get().Status(), 200);
}

TEST_F(Lifecycle, SigintStopsAnIdleServer) {
  StartServer();
  EXPECT_EQ(Fetch(Port(), "/").Status(), 200);
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(5s), 0);
  EXPECT_EQ(Site::ReadFile(site.marker), "terminate\nunload\n");
}

}  // namespace
}  // namespace host::test
