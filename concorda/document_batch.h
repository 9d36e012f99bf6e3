// Storing many documents with every core: worker threads prepare documents
// (read, cut into words, compress: CPreparedDocument), and the calling
// thread stores and indexes them one by one in the order given, preparing
// documents itself while the next one to store is not ready. A base built
// this way is the same, byte for byte, whatever the number of workers: what
// a worker makes depends on its document alone, and the order of storing is
// fixed.
//
//   RunDocumentBatch(files.size(), jobs,
//       [&](std::size_t i, CPreparedDocument& doc, std::string& error) { ... doc.Prepare(...) ... },
//       [&](std::size_t i, CPreparedDocument& doc, std::string& error) { ... base.StorePrepared(...) ... },
//       &error);
//
// At most 32 documents per job are prepared ahead of the one being stored,
// so memory stays bounded however many documents there are.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "concorda/prepared_document.h"

namespace concorda {

// Makes document i ready; runs on the workers and the calling thread, for
// different documents at once, and so must never wait for a document to be
// stored. False (with `error` naming the document and what is wrong) stops
// the batch; a thrown CException does too.
using PrepareStep = std::function<bool(std::size_t i, CPreparedDocument& doc, std::string& error)>;
// Stores document i; runs on the calling thread, in order. False stops the batch.
using StoreStep = std::function<bool(std::size_t i, CPreparedDocument& doc, std::string& error)>;

// Runs documents 0 .. count-1 through both steps with `jobs` threads
// preparing (the calling thread and jobs - 1 workers; 1: all on the calling
// thread). True when all were stored; otherwise false, the
// documents before the failing one stored and none after it, and *error
// saying what failed.
bool RunDocumentBatch(std::size_t count, unsigned jobs, const PrepareStep& prepare, const StoreStep& store,
                      std::string* error);

}  // namespace concorda
