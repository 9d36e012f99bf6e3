// What one word query may cost. A query is free text from the network: a few
// kilobytes can name thousands of terms, wildcards that walk the whole word
// table, or phrases that make every candidate document be read. Every such
// dimension has a named limit below; a query that would pass one is not
// answered in part but refused as a whole (the caller shows it was refused).
//
// One budget serves one query over every base it is asked of (the catalogue
// hands the same budget to each of its bases), so that the limits bound the
// work of a request, not of a request per base. The counts are a property of
// the query and the bases, not of what happens to be cached, so a query is
// refused or answered the same way each time; only the time limit depends on
// the machine, as the backstop for whatever the counts do not foresee.
//
// Not thread-safe: one budget belongs to one query on one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <string>

namespace concorda {

struct QueryLimits {
  // Tokens read while evaluating (words, operators and group openings; the
  // words of phrases count once where the phrase stands).
  static constexpr std::size_t kMaxTokens = 4096;
  // Different terms (words and wildcard patterns) whose documents are looked up.
  static constexpr std::size_t kMaxTerms = 256;
  // Quoted phrases (each must be checked in every candidate document).
  static constexpr std::size_t kMaxPhrases = 32;
  // Bytes of one phrase (the scan compares them at every candidate place).
  static constexpr std::size_t kMaxPhraseBytes = 1024;
  // Different patterns with wildcards at both ends: each walks the whole word table.
  static constexpr std::size_t kMaxTableScans = 24;
  // Words that wildcard terms stand for, summed over the terms and bases.
  static constexpr std::size_t kMaxExpandedWords = 200000;
  // Documents read and searched because their words alone cannot decide a phrase.
  static constexpr std::size_t kMaxDocumentsRead = 5000;
  // CPU time of the querying thread.
  static constexpr std::chrono::milliseconds kMaxTime{1000};
};

// Thrown inside the index when a query passes a limit; the query's entry
// points turn it into a refusal. `What()` names the limit in words.
class CQueryOverBudget : public std::exception {
 public:
  explicit CQueryOverBudget(std::string what) : m_what(std::move(what)) {}
  const char* what() const noexcept override { return m_what.c_str(); }

 private:
  std::string m_what;
};

class CQueryBudget {
 public:
  // The limits of QueryLimits; tests give smaller ones.
  struct Limits {
    std::size_t tokens = QueryLimits::kMaxTokens;
    std::size_t terms = QueryLimits::kMaxTerms;
    std::size_t phrases = QueryLimits::kMaxPhrases;
    std::size_t phraseBytes = QueryLimits::kMaxPhraseBytes;
    std::size_t tableScans = QueryLimits::kMaxTableScans;
    std::size_t expandedWords = QueryLimits::kMaxExpandedWords;
    std::size_t documentsRead = QueryLimits::kMaxDocumentsRead;
    std::chrono::nanoseconds time = QueryLimits::kMaxTime;
  };

  CQueryBudget();
  explicit CQueryBudget(const Limits& limits);

  // Each charges what it names and throws CQueryOverBudget when the total
  // passes its limit (reaching the limit exactly is allowed).
  void ChargeToken();
  void ChargeTerm();
  void ChargePhrase(std::size_t bytes);
  void ChargeTableScan();
  void ChargeExpandedWords(std::size_t words);
  void ChargeDocumentRead();
  // Throws when the query has run longer than its time limit. Cheap enough
  // to call every few thousand steps of a loop.
  void CheckTime() const;

  const Limits& GetLimits() const { return m_limits; }

 private:
  static void Charge(std::size_t& used, std::size_t amount, std::size_t limit, const char* what);

  Limits m_limits;
  std::chrono::nanoseconds m_start;
  std::size_t m_tokens = 0;
  std::size_t m_terms = 0;
  std::size_t m_phrases = 0;
  std::size_t m_tableScans = 0;
  std::size_t m_expandedWords = 0;
  std::size_t m_documentsRead = 0;
};

}  // namespace concorda
