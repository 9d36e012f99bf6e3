// vamubase commands on the container itself: create, add, list, extract,
// remove, compact, merge, verify.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "concorda/doc_server.h"
#include "concorda/document_batch.h"
#include "concorda/prepared_document.h"
#include "concorda/index_verify.h"
#include "kasten/file_server.h"
#include "platform/file.h"
#include "tools/vamubase/command.h"

namespace vamubase {
namespace {

// A slot given by index (digits) or by name; --name forces a name.
std::optional<DWORD> Resolve(CFileServer& fs, const std::string& what, bool byName) {
  if (!byName)
    if (auto index = ParseIndex(what)) return index;
  DWORD index = fs.GetItemIndex(what.c_str());
  if (index == CFileServer::kNoItem) return std::nullopt;
  return index;
}

const char* MethodName(DWORD method) {
  switch (method) {
    case 0: return "stored";
    case 1:
    case 2: return "zlib";
    default: return "unknown";
  }
}

// The container's findings, one a line: "slot N: NAME: what", or "BASE: what"
// for the base as a whole.
void PrintFindings(const std::string& base, const CFileServer::Report& report, std::ostream& out) {
  for (const auto& f : report.findings) {
    if (f.slot == CFileServer::kNoItem) out << base << ": " << f.what << "\n";
    else out << "slot " << f.slot << ": " << (f.item.empty() ? "" : f.item + ": ") << f.what << "\n";
  }
}

int Create(std::vector<std::string>& args) {
  if (!NoOptionsLeft("create", args)) return kUsage;
  if (args.size() != 1) return Usage("create", "give the path of the new base");
  if (FileExists(args[0])) return Fail(args[0] + ": already exists");
  GUID guid = NewGuid();
  CFileServer fs;
  if (!fs.Init(args[0].c_str(), &guid, CFile::modeReadWrite)) return Fail(args[0] + ": cannot create");
  fs.Close();
  return kOk;
}

int Add(std::vector<std::string>& args) {
  bool stored = TakeFlag(args, "--stored");
  bool zlib = TakeFlag(args, "--zlib");
  bool verbose = TakeFlag(args, "--verbose") || TakeFlag(args, "-v");
  bool missing = false;
  auto name = TakeOption(args, "--name", missing);
  auto prefix = TakeOption(args, "--prefix", missing);
  auto at = TakeOption(args, "--at", missing);
  auto keys = TakeOption(args, "--keys", missing);
  if (missing) return Usage("add", "an option lacks its value");
  unsigned jobs = 1;
  if (!TakeJobs(args, &jobs)) return Usage("add", "--jobs needs a number of threads from 1 to 256");
  if (!NoOptionsLeft("add", args)) return kUsage;
  if (stored && zlib) return Usage("add", "--stored and --zlib exclude each other");
  if (args.size() < 2) return Usage("add", "give a base and at least one file");
  if (name && args.size() != 2) return Usage("add", "--name needs exactly one file");
  std::optional<DWORD> index;
  if (at && !(index = ParseIndex(*at))) return Usage("add", "--at needs a slot index");
  // Bases are opened with their index, so that what changes is indexed too.
  CDocServer fs;
  if (!OpenBase(fs, args[0], true)) return kFailed;
  // Writing into a damaged base would bury the damage under new items.
  if (const CFileServer::Report report = fs.Verify(true); !report.Sound()) {
    PrintFindings(args[0], report, std::cerr);
    return Fail(args[0] + ": the base is damaged (" + std::to_string(report.findings.size()) +
                " problems, listed above; vamubase verify shows them too); nothing added");
  }
  const DWORD method = stored ? 0 : 1;
  const char* keyString = keys ? keys->c_str() : nullptr;
  // New documents go in front of the index's own items, so that the
  // documents of a base stay together at its start.
  if (!index)
    for (DWORD i = 0; i < fs.GetSize(); ++i)
      if (fs.IsSystemFile(i)) {
        index = i;
        break;
      }
  const std::vector<std::string> files(args.begin() + 1, args.end());
  auto itemName = [&](std::size_t i) {
    std::string n = name ? *name : files[i].substr(files[i].find_last_of('/') + 1);
    return prefix ? *prefix + "\\" + n : n;
  };
  // Workers read, cut and compress; this thread stores in the order given.
  auto prepare = [&](std::size_t i, CPreparedDocument& doc, std::string& error) {
    CFile src;
    CFileException failure;
    if (!src.Open(files[i].c_str(), CFile::modeRead | CFile::shareDenyNone, &failure)) {
      error = files[i] + ": " + failure.GetErrorMessage();
      return false;
    }
    FileItemPtr item(MakeFileItem(itemName(i).c_str()));
    if (!item) {
      error = files[i] + ": item name too long";
      return false;
    }
    if (!doc.Prepare(src, item.get(), keyString, method)) {
      error = files[i] + ": " + doc.Error();
      return false;
    }
    return true;
  };
  auto store = [&](std::size_t i, CPreparedDocument& doc, std::string& error) {
    const DWORD result = index ? fs.StorePrepared(doc, *index + static_cast<DWORD>(i), false)
                               : fs.StorePrepared(doc, fs.GetSize(), false);
    if (result == CFileServer::kNoItem) {
      error = files[i] + ": not added";
      return false;
    }
    // One line per item as soon as it is in: a run cut short shows what went in.
    if (verbose) std::cout << result << "\t" << itemName(i) << std::endl;
    return true;
  };
  std::string failure;
  if (!concorda::RunDocumentBatch(files.size(), jobs, prepare, store, &failure)) return Fail(failure);
  fs.Close();
  return kOk;
}

int List(std::vector<std::string>& args) {
  bool all = TakeFlag(args, "--all");
  if (!NoOptionsLeft("list", args)) return kUsage;
  if (args.size() != 1) return Usage("list", "give one base");
  CDocServer fs;
  if (!OpenBase(fs, args[0], false)) return kFailed;
  for (DWORD i = 0; i < fs.GetSize(); ++i) {
    CFileServer::ItemInfo info;
    if (!fs.GetItemInfo(i, info)) {
      if (all) std::cout << i << "\t-\t-\t-\t(empty)\n";
      continue;
    }
    if (!all && fs.IsSystemFile(i)) continue;
    std::cout << i << "\t" << MethodName(info.method) << "\t" << info.contentsLength << "\t" << info.storedLength
              << "\t" << info.name << "\n";
  }
  return kOk;
}

int Extract(std::vector<std::string>& args) {
  bool byName = TakeFlag(args, "--name");
  bool missing = false;
  auto output = TakeOption(args, "-o", missing);
  if (missing) return Usage("extract", "-o needs a file");
  if (!NoOptionsLeft("extract", args)) return kUsage;
  if (args.size() != 2) return Usage("extract", "give a base and one item");
  CFileServer fs;
  if (!OpenBase(fs, args[0], false)) return kFailed;
  auto index = Resolve(fs, args[1], byName);
  if (!index) return Fail(args[1] + ": no such item in " + args[0]);
  CMemFile contents(4096);
  if (!FileItemPtr(fs.GetFile(*index, contents, 0, FALSE)))
    return Fail(args[0] + ": slot " + std::to_string(*index) + " holds no readable item (vamubase verify tells why)");
  const auto* data = contents.GetBuffer();
  std::size_t n = static_cast<std::size_t>(contents.GetLength());
  if (output) {
    CFile out(output->c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone);
    out.Write(data, static_cast<UINT>(n));
    return kOk;
  }
  if (n && std::fwrite(data, 1, n, stdout) != n) return Fail("cannot write to standard output");
  return std::fflush(stdout) == 0 ? kOk : Fail("cannot write to standard output");
}

int Remove(std::vector<std::string>& args) {
  bool byName = TakeFlag(args, "--name");
  if (!NoOptionsLeft("remove", args)) return kUsage;
  if (args.size() < 2) return Usage("remove", "give a base and at least one item");
  CDocServer fs;
  if (!OpenBase(fs, args[0], true)) return kFailed;
  int status = kOk;
  for (std::size_t i = 1; i < args.size(); ++i) {
    auto index = Resolve(fs, args[i], byName);
    if (!index || !FileItemPtr(fs.GetItem(*index))) {
      status = Fail(args[i] + ": no such item in " + args[0]);
      continue;
    }
    fs.RemoveFile(*index);
  }
  fs.Close();
  return status;
}

int Compact(std::vector<std::string>& args) {
  if (!NoOptionsLeft("compact", args)) return kUsage;
  if (args.size() != 1) return Usage("compact", "give one base");
  CDocServer fs;
  if (!OpenBase(fs, args[0], true)) return kFailed;
  if (!fs.Compact()) return Fail(args[0] + ": not compacted");
  fs.Close();
  std::cerr << "vamubase: " << args[0] << " compacted; the old file is " << CFileServer::BackupName(args[0]) << "\n";
  return kOk;
}

int Merge(std::vector<std::string>& args) {
  if (!NoOptionsLeft("merge", args)) return kUsage;
  if (args.size() != 3) return Usage("merge", "give the new base and two compacted bases");
  if (FileExists(args[0])) return Fail(args[0] + ": already exists");
  CDocServer first, second;
  if (!OpenBase(first, args[1], false) || !OpenBase(second, args[2], false)) return kFailed;
  GUID guid = NewGuid();
  CDocServer target;
  if (!target.Init(args[0].c_str(), &guid, CFile::modeReadWrite)) return Fail(args[0] + ": cannot create");
  if (!target.Union(&first, &second)) {
    target.Close();
    DeleteFileAt(args[0]);
    return Fail("both bases must be compacted first (vamubase compact)");
  }
  target.Close();
  return kOk;
}

int Verify(std::vector<std::string>& args) {
  bool quiet = TakeFlag(args, "--quiet") || TakeFlag(args, "-q");
  bool index = TakeFlag(args, "--index");
  if (!NoOptionsLeft("verify", args)) return kUsage;
  if (args.size() != 1) return Usage("verify", "give one base");
  CDocServer fs;
  if (!OpenBase(fs, args[0], false)) return kFailed;
  CFileServer::Report report = fs.Verify(true);
  // The index is checked only in a container whose items can be trusted.
  if (index && report.Sound()) report.findings = concorda::VerifyIndex(fs);
  PrintFindings(args[0], report, std::cout);
  if (!quiet)
    std::cerr << args[0] << ": " << report.slots << " slots, " << report.items << " items, " << report.empty
              << " empty, " << report.findings.size() << " damaged\n";
  return report.Sound() ? kOk : kFailed;
}

}  // namespace

VAMUBASE_COMMAND(create, "create", "BASE", "create an empty base", "", Create);
VAMUBASE_COMMAND(add, "add",
                 "[--stored|--zlib] [--name NAME] [--prefix DIR] [--at INDEX] [--keys KEYS] [--jobs N] [-v] BASE FILE...",
                 "add files as items (zlib by default), indexing their words",
                 "  --stored       keep the contents as they are\n"
                 "  --zlib         compress (the default)\n"
                 "  --name NAME    item name for a single file (default: the file name)\n"
                 "  --prefix DIR   store the items as DIR\\NAME\n"
                 "  --at INDEX     insert before slot INDEX instead of appending\n"
                 "  --keys KEYS    keys of the added documents, ';'-separated\n"
                 "  --jobs N       threads that read and compress (default: the number of cores);\n"
                 "                 the base is the same byte for byte whatever N is\n"
                 "  -v, --verbose  print the slot and name of each item added\n",
                 Add);
VAMUBASE_COMMAND(list, "list", "[--all] BASE", "list the documents: slot, method, size, stored size, name",
                 "  --all  show empty slots and the index's own items too\n", List);
VAMUBASE_COMMAND(extract, "extract", "[--name] [-o FILE] BASE ITEM",
                 "write an item's contents to standard output (ITEM: slot index or name)",
                 "  --name   take ITEM as a name even when it is made of digits\n"
                 "  -o FILE  write to FILE instead\n",
                 Extract);
VAMUBASE_COMMAND(remove, "remove", "[--name] BASE ITEM...", "empty the slots of items (compact to reclaim space)",
                 "  --name  take each ITEM as a name even when it is made of digits\n", Remove);
VAMUBASE_COMMAND(compact, "compact", "BASE", "rewrite a base without dead space, keeping the old file as .bak", "",
                 Compact);
VAMUBASE_COMMAND(merge, "merge", "NEW FIRST SECOND", "make a new base holding the items of two compacted bases", "",
                 Merge);
VAMUBASE_COMMAND(verify, "verify", "[-q] [--index] BASE",
                 "check the header, slot chain, records, name table and every stream; report damage "
                 "(exit status 1 when there is any)",
                 "  -q, --quiet  no summary line\n"
                 "  --index      also check that the word index loads and agrees with the documents\n",
                 Verify);

}  // namespace vamubase
