// The catalogue commands of the base tool: the table of acts of a set of
// bases and the lookup of one act by its reference.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/tests/tool_runner.h"

namespace {

using tool_test::Result;

class CatalogueCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vamuactsXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    a = dir + "/a.vq";
    b = dir + "/b.vq";
    ASSERT_EQ(Run({"create", a}).status, 0);
    ASSERT_EQ(Run({"create", b}).status, 0);
    Add(a, "DU\\D97034D97034.HTM", "Ustawa o lasach (Dz.U.97.12.34)");
    Add(a, "DU\\D97034D98012.HTM", "Ustawa o lasach, zmiana (Dz.U.97.12.34) zm. Dz.U.98.5.12");
    Add(a, "MP\\M99005M99005.HTM", "Uchwala (M.P.99.3.5)");
    Add(b, "DU\\D97040D97040.HTM", "Rozporzadzenie (Dz.U. z 1997 r. Nr 14, poz. 40)");
    Add(b, "HOME.HTM", "Strona");
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  Result Run(const std::vector<std::string>& args) { return tool_test::Run(VAMUBASE, args, dir); }

  void Add(const std::string& base, const std::string& name, const std::string& title) {
    std::string file = dir + "/doc.htm";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << "<HTML><HEAD><TITLE>" << title << "</TITLE></HEAD><BODY>tekst</BODY></HTML>";
    Result r = Run({"add", "--name", name, base, file});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string dir, a, b;
};

TEST_F(CatalogueCommandsTest, ActsListsTheTableOfBothBases) {
  Result r = Run({"acts", a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Dz.U.\t97\t12\t34\tfirst text\t0\tDU\\D97034D97034.HTM\tUstawa o lasach (Dz.U.97.12.34)\n"
            "Dz.U.\t97\t12\t34\tDz.U.98.5.12\t1\tDU\\D97034D98012.HTM\t"
            "Ustawa o lasach, zmiana (Dz.U.97.12.34) zm. Dz.U.98.5.12\n"
            "Dz.U.\t97\tNr 14\t40\tfirst text\t65536\tDU\\D97040D97040.HTM\t"
            "Rozporzadzenie (Dz.U. z 1997 r. Nr 14, poz. 40)\n"
            "M.P.\t99\t3\t5\tfirst text\t2\tMP\\M99005M99005.HTM\tUchwala (M.P.99.3.5)\n");
  EXPECT_EQ(Run({"acts", "--journal", "M", a, b}).out,
            "M.P.\t99\t3\t5\tfirst text\t2\tMP\\M99005M99005.HTM\tUchwala (M.P.99.3.5)\n");
  EXPECT_EQ(Run({"acts", "--year", "98", a, b}).out, "");
  // Base numbers follow the order of the command line.
  Result swapped = Run({"acts", b, a});
  EXPECT_NE(swapped.out.find("first text\t65536\tDU\\D97034D97034.HTM"), std::string::npos);
  EXPECT_NE(swapped.out.find("first text\t0\tDU\\D97040D97040.HTM"), std::string::npos);
  // No cache file unless asked for.
  EXPECT_NE(access((dir + "/biblion.itt").c_str(), F_OK), 0);
}

TEST_F(CatalogueCommandsTest, ActLooksUpAReference) {
  Result r = Run({"act", "Dz.U.97.12.34", a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Dz.U.97.12.34\n"
            "first text\t0\tDU\\D97034D97034.HTM\tUstawa o lasach (Dz.U.97.12.34)\n"
            "Dz.U.98.5.12\t1\tDU\\D97034D98012.HTM\tUstawa o lasach, zmiana (Dz.U.97.12.34) zm. Dz.U.98.5.12\n");
  // Without a number the act is found by its position; four-digit years too.
  Result byPosition = Run({"act", "dz.u.1997..40", a, b});
  ASSERT_EQ(byPosition.status, 0) << byPosition.err;
  EXPECT_EQ(byPosition.out.substr(0, byPosition.out.find('\n')), "Dz.U.97.Nr 14.40");
  Result missing = Run({"act", "M.P.99.3.6", a, b});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no act M.P.99.3.6"), std::string::npos);
}

TEST_F(CatalogueCommandsTest, UsageErrorsAndMissingBases) {
  EXPECT_EQ(Run({"acts"}).status, 2);
  EXPECT_EQ(Run({"act", "Dz.U.97.12.34"}).status, 2);
  for (const char* bad : {"Dz.U.97.12", "DzU.97.12.34", "Dz.U.97.12.34x", "Dz.U..12.34", "M.P.99.3.", "Dz.U.97.999.1"})
    EXPECT_EQ(Run({"act", bad, a}).status, 2) << bad;
  EXPECT_EQ(Run({"acts", "--journal", "X", a}).status, 2);
  EXPECT_EQ(Run({"acts", "--catalogue", "biblion", a}).status, 2);
  Result none = Run({"acts", dir + "/missing.vq"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("No base " + dir + "/missing.vq"), std::string::npos);
  EXPECT_NE(access((dir + "/missing.vq").c_str(), F_OK), 0);
  Result help = Run({"help", "act"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Dz.U.YY.NUMBER.POSITION"), std::string::npos);
}

TEST_F(CatalogueCommandsTest, CacheAndRegistry) {
  ASSERT_EQ(Run({"acts", "--cache", dir, a, b}).status, 0);
  std::size_t caches = 0;  // "biblion-<digest>.itt"
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    caches += name.rfind("biblion-", 0) == 0 && name.size() > 12 && name.substr(name.size() - 4) == ".itt";
  }
  EXPECT_EQ(caches, 1u);
  std::string registry = dir + "/registry.reg";
  std::ofstream(registry) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\test]\r\n\"1\"=\"" << b
                          << "\"\r\n";
  ::setenv("VAMU_REGISTRY", registry.c_str(), 1);
  Result r = Run({"acts", "--catalogue", "test"});
  ::unsetenv("VAMU_REGISTRY");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Dz.U.\t97\tNr 14\t40\tfirst text\t0\t"), 0u);
  EXPECT_EQ(r.out.find("12\t34"), std::string::npos);
}

}  // namespace
