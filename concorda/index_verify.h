// The check of a base's word index against its documents: what
// `vamubase verify --index` reports. The index system files (key table, word
// table, index files; system_files.h) must load whole, every topic and key
// must name a document of the base, and the words and occurrence counts the
// index holds must be exactly those the tokenizer finds in the documents
// today. The container itself is checked by CFileServer::Verify.
#pragma once

#include <vector>

#include "concorda/doc_server.h"

namespace concorda {

// Reads the system files and every document of `base` (open, read-only or
// writable, not being changed meanwhile). Findings name the slot of the
// document or system file concerned, or kNoItem for the index as a whole.
// Cost: one read and one tokenization of every document, and the whole
// index in memory, as a rebuild would take.
std::vector<CFileServer::Finding> VerifyIndex(CDocServer& base);

}  // namespace concorda
