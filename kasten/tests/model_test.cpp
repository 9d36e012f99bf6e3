// Random sequences of writes checked against a model of the slots, through
// close and reopen, read-only reopen and compaction. Catches any disagreement
// between the in-memory slot list, the chain on disk and the hash table.
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

struct Slot {
  std::string name, text;
};
using Model = std::vector<std::optional<Slot>>;

void ExpectMatches(CFileServer& fs, const Model& model, const std::string& when) {
  ASSERT_EQ(fs.GetSize(), model.size()) << when;
  std::map<std::string, DWORD> lastIndexOfName;
  for (DWORD i = 0; i < model.size(); ++i) {
    if (!model[i]) {
      EXPECT_EQ(Contents(fs, i), "<none>") << when << " slot " << i;
      continue;
    }
    EXPECT_EQ(NameAt(fs, i), model[i]->name) << when << " slot " << i;
    EXPECT_EQ(Contents(fs, i), model[i]->text) << when << " slot " << i;
    lastIndexOfName[model[i]->name] = i;
  }
  // Names are unique in these runs: each resolves to its own slot.
  for (auto& [name, index] : lastIndexOfName) EXPECT_EQ(fs.GetItemIndex(name.c_str()), index) << when << " " << name;
}

class ModelTest : public ContainerTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(ModelTest, RandomWritesAgreeWithTheModel) {
  std::mt19937 rng(GetParam());
  auto pick = [&](std::size_t n) { return static_cast<DWORD>(std::uniform_int_distribution<std::size_t>(0, n - 1)(rng)); };
  Model model;
  int serial = 0;
  auto newSlot = [&] {
    ++serial;
    std::string text = "body " + std::to_string(serial) + std::string(pick(300), static_cast<char>('a' + serial % 26));
    return Slot{"DIR\\N" + std::to_string(serial) + ".HTM", text};
  };
  auto fs = std::make_unique<CFileServer>(path.c_str(), &kGuid, CFile::modeReadWrite);
  for (int step = 0; step < 400; ++step) {
    int op = static_cast<int>(pick(100));
    if (op < 35 || model.empty()) {
      Slot s = newSlot();
      ASSERT_EQ(Add(*fs, s.name, s.text, pick(3)), model.size());
      model.push_back(s);
    } else if (op < 55) {
      Slot s = newSlot();
      DWORD at = pick(model.size() + 3);
      ASSERT_EQ(Insert(*fs, at, s.name, s.text, pick(3)), at);
      if (at >= model.size()) {
        model.resize(at + 1);
        model[at] = s;
      } else if (model[at]) {
        model.insert(model.begin() + at, s);
      } else {
        model[at] = s;
      }
    } else if (op < 68) {
      Slot s = newSlot();
      DWORD at = pick(model.size());
      ASSERT_EQ(Replace(*fs, at, s.name, s.text, pick(3)), at);
      model[at] = s;
    } else if (op < 80) {
      DWORD at = pick(model.size());
      fs->RemoveFile(at);
      model[at].reset();
    } else if (op < 85) {
      DWORD count = static_cast<DWORD>(model.size() + pick(4));
      fs->SetSize(count, TRUE);
      model.resize(count);
    } else if (op < 88) {
      DWORD count = pick(model.size() + 1);
      fs->SetSize(count, TRUE);
      model.resize(count);
    } else if (op < 94) {
      fs->Close();
      {
        CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
        ExpectMatches(ro, model, "read-only at step " + std::to_string(step));
      }
      fs = std::make_unique<CFileServer>(path.c_str(), nullptr, CFile::modeReadWrite);
      ASSERT_TRUE(fs->IsOpen());
    } else if (op < 97) {
      ASSERT_TRUE(fs->Compact());
      Model compacted;
      for (auto& s : model)
        if (s) compacted.push_back(s);
      model = compacted;
    } else {
      ExpectMatches(*fs, model, "writable at step " + std::to_string(step));
    }
    if (HasFatalFailure()) return;
  }
  ExpectMatches(*fs, model, "at the end");
  fs->Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  ExpectMatches(ro, model, "reopened at the end");
}

INSTANTIATE_TEST_SUITE_P(Seeds, ModelTest, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

}  // namespace
}  // namespace kasten_test
