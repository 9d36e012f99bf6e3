// The installation directory's files through the running server, and the
// attempts to reach anything outside it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "host/tests/server_fixture.h"

namespace host::test {
namespace {

using StaticFiles = ServerTest;

TEST_F(StaticFiles, ServesTheSiteWithItsContentTypes) {
  StartServer();
  Client c(Port());
  Response root = c.Get("/");
  EXPECT_EQ(root.Status(), 200);
  EXPECT_EQ(root.Body(), "<HTML>frameset</HTML>");
  EXPECT_EQ(root.Header("Content-Type"), "text/html; charset=windows-1250");
  Response gif = c.Get("/gt.gif");
  EXPECT_EQ(gif.Header("Content-Type"), "image/gif");
  EXPECT_EQ(gif.Body(), std::string("GIF89a\0\x01\x02", 9)) << "binary bytes unchanged";
  EXPECT_EQ(c.Get("/tree.js").Header("Content-Type"), "application/javascript; charset=windows-1250");
  EXPECT_EQ(c.Get("/HOME.HTM").Body(), "<HTML>home</HTML>") << "names ignore case";
  EXPECT_EQ(c.Get("/sub/").Body(), "sub");
  EXPECT_EQ(c.Get("/Home%2Ehtm").Body(), "<HTML>home</HTML>");
  EXPECT_EQ(c.Get("/Home.htm?ignored=1").Body(), "<HTML>home</HTML>");
  EXPECT_EQ(c.Get("/missing.htm").Status(), 404);
  EXPECT_EQ(c.Get("/Home.htm").Status(), 200) << "a 404 keeps the connection";
}

TEST_F(StaticFiles, HeadConditionalAndMethodRules) {
  StartServer();
  Client c(Port());
  c.Send("HEAD /Home.htm HTTP/1.1\r\nHost: x\r\n\r\n");
  Response head = c.Read(true);
  EXPECT_EQ(head.Status(), 200);
  EXPECT_EQ(head.Header("Content-Length"), "17");
  std::string modified = head.Header("Last-Modified");
  ASSERT_FALSE(modified.empty());
  Response again = c.Get("/Home.htm", "If-Modified-Since: " + modified + "\r\n");
  EXPECT_EQ(again.Status(), 304);
  EXPECT_EQ(again.Body(), "");
  c.Send("POST /Home.htm HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
  Response post = c.Read();
  EXPECT_EQ(post.Status(), 405);
  EXPECT_EQ(post.Header("Allow"), "GET, HEAD");
  Client d(Port());
  d.Send("DELETE /portico.dll?x HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(d.Read().Status(), 405);
}

TEST_F(StaticFiles, TraversalAttemptsNeverReachOutside) {
  ::mkfifo((site.dir + "/fifo").c_str(), 0600);
  StartServer();
  struct Case {
    const char* target;
    int status;
  } cases[] = {
      {"/../outside.txt", 400},
      {"/sub/../../outside.txt", 400},
      {"/%2e%2e/outside.txt", 400},
      {"/%2E%2E%2Foutside.txt", 400},
      {"/sub/..%2f..%2foutside.txt", 400},
      {"/..%5coutside.txt", 404},
      {"/Home.htm%00.gif", 400},
      {"/%", 400},
      {"/link-out", 404},
      {"/.hidden", 404},
      {"/fifo", 404},
      {"//etc/passwd", 404},
      {"http://127.0.0.1/../outside.txt", 400},
      {"outside.txt", 400},
      {"/escape.htm", 404},  // the filter maps it outside; the server refuses
  };
  for (const Case& k : cases) {
    Response r = Fetch(Port(), k.target);
    EXPECT_EQ(r.Status(), k.status) << k.target;
    EXPECT_EQ(r.Body().find("OUTSIDE"), std::string::npos) << k.target;
    EXPECT_EQ(r.Body().find("root:"), std::string::npos) << k.target;
  }
}

TEST_F(StaticFiles, FilterSeesEveryUrlMapping) {
  StartServer();
  EXPECT_EQ(Fetch(Port(), "/filtered.htm").Body(), "<HTML>frameset</HTML>");
  EXPECT_EQ(Fetch(Port(), "/filtererror.htm").Status(), 500);
}

}  // namespace
}  // namespace host::test
