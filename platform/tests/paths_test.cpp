#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

struct InsideTest : ::testing::Test {
  void SetUp() override {
    root = fs::canonical(*CreateTempFile(TempDirectory())).string();
    fs::remove(root);
    fs::create_directories(root + "/site/sub");
    std::ofstream(root + "/site/a.htm") << "a";
    std::ofstream(root + "/site/sub/b.htm") << "b";
    std::ofstream(root + "/secret") << "s";
  }
  void TearDown() override { fs::remove_all(root); }
  std::string root;
};

TEST_F(InsideTest, FilesAndLinksThatStayInsideAreFound) {
  fs::create_symlink("sub/b.htm", root + "/site/link.htm");
  fs::create_directory_symlink(root + "/site", root + "/alias");
  EXPECT_EQ(CanonicalPathInside(root + "/site", "a.htm"), root + "/site/a.htm");
  EXPECT_EQ(CanonicalPathInside(root + "/site", "sub/../a.htm"), root + "/site/a.htm");
  EXPECT_EQ(CanonicalPathInside(root + "/site", "link.htm"), root + "/site/sub/b.htm");
  EXPECT_EQ(CanonicalPathInside(root + "/alias", "a.htm"), root + "/site/a.htm");
  EXPECT_EQ(CanonicalPathInside("/", root.substr(1) + "/secret"), root + "/secret");
}

TEST_F(InsideTest, WhatLeadsOutOrDoesNotExistIsRefused) {
  fs::create_symlink("../secret", root + "/site/out.htm");
  fs::create_symlink(root + "/secret", root + "/site/abs.htm");
  // A sibling whose name begins with the directory's name is still outside.
  fs::create_directories(root + "/site2");
  std::ofstream(root + "/site2/c.htm") << "c";
  for (const char* name : {"out.htm", "abs.htm", "../secret", "sub/../../secret", "../site2/c.htm", "", "."}) {
    errno = 0;
    EXPECT_FALSE(CanonicalPathInside(root + "/site", name)) << name;
    EXPECT_EQ(errno, EACCES) << name;
  }
  errno = 0;
  EXPECT_FALSE(CanonicalPathInside(root + "/site", "missing.htm"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(CanonicalPathInside(root + "/nothing", "a.htm"));
}

}  // namespace
