// The catalogue tests' world: document bases made in a temporary directory,
// a registry file that lists them, and the catalogue's messages captured.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "concorda/doc_server.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "table_fixture.h"

namespace biblion_test {

struct Doc {
  std::string name;
  std::string text;
  std::string keys;  // empty: none
};

inline std::string Html(const std::string& title, const std::string& body) {
  return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\r\n<BODY>" + body + "</BODY></HTML>\r\n";
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry = dir.File("registry.reg");
    ::setenv("VAMU_REGISTRY", registry.c_str(), 1);
    SetMessageSink([this](const std::string& text, const std::string& caption) {
      messages.push_back(caption + ": " + text);
    });
  }
  void TearDown() override { SetMessageSink({}); }

  // An indexed base holding the documents in slots 0, 1, ... (the index's
  // own items follow them).
  std::string MakeBase(const std::string& file, const std::vector<Doc>& docs) {
    std::string path = dir.File(file);
    GUID guid = NewGuid();
    CDocServer base;
    EXPECT_TRUE(base.Init(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite));
    for (std::size_t i = 0; i < docs.size(); ++i) EXPECT_EQ(AddDoc(base, docs[i]), i);
    base.Close();
    return path;
  }

  static DWORD AddDoc(CDocServer& base, const Doc& doc) {
    CMemFile file(4096);
    file.Write(doc.text.data(), static_cast<UINT>(doc.text.size()));
    file.SeekToBegin();
    _FILEITEM* item = MakeFileItem(doc.name.c_str());
    DWORD index = base.AddFile(file, item, doc.keys.empty() ? nullptr : doc.keys.c_str(), 2);
    CFileServer::FreeFileItem(item);
    return index;
  }

  // Lists the paths as the bases of catalogue `name` (and nothing else).
  void Register(const std::vector<std::string>& paths, const std::string& name = "biblion") {
    CRegistry reg;
    std::string key = std::string(CSrvSrv::kRegistryKey) + "\\" + name;
    reg.CreateKey(key);
    for (std::size_t i = 0; i < paths.size(); ++i) reg.SetString(key, std::to_string(i + 1), paths[i]);
    std::ofstream(registry, std::ios::binary | std::ios::trunc) << reg.Serialize();
  }

  bool Logged(const std::string& part) const {
    for (const auto& m : messages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }

  TempDir dir;
  std::string registry;
  std::vector<std::string> messages;
};

// The documents of the two sample bases: the Dz.U. act 97/12/34 with its
// first text, amendments and a newer copy of the first text in base B, an
// M.P. act, an act cited with "Nr", an image and a page that is no act.
inline std::vector<Doc> BaseADocs() {
  return {
      {"DU\\D97034D97034.HTM", Html("Ustawa o lasach (Dz.U.97.12.34)", "lasy panstwowe"), "D97034"},
      {"DU\\D97034D98012.HTM", Html("Ustawa o lasach, zmiana (Dz.U.97.12.34) zm. Dz.U.98.5.12", "lasy prywatne"),
       "D97034"},
      {"MP\\M99005M99005.HTM", Html("Uchwala (M.P.99.3.5)", "uchwala sejmu"), ""},
      {"IMG\\D97034.GIF", "GIF89a<HTML><TITLE>(Dz.U.97.12.34)</TITLE>", ""},
      {"DU\\D97040D97040.HTM", Html("Rozporzadzenie (Dz.U. z 1997 r. Nr 14, poz. 40)", "rozporzadzenie ministra"),
       ""},
  };
}

inline std::vector<Doc> BaseBDocs() {
  return {
      {"DU\\D97034D99001.HTM", Html("Ustawa o lasach, zmiana (Dz.U.97.12.34) zm. Dz.U.99.1.1", "lasy gminne"),
       "D97034"},
      {"DU\\D97034D97034.HTM", Html("Ustawa o lasach - tekst nowszy (Dz.U.97.12.34)", "lasy"), ""},
      {"HOME.HTM", Html("Strona", "witamy"), ""},
  };
}

}  // namespace biblion_test
