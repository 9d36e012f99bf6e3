#include "concorda/query_budget.h"

#include "platform/sync.h"

namespace concorda {

CQueryBudget::CQueryBudget() : CQueryBudget(Limits{}) {}

CQueryBudget::CQueryBudget(const Limits& limits) : m_limits(limits), m_start(ThreadCpuTime()) {}

void CQueryBudget::Charge(std::size_t& used, std::size_t amount, std::size_t limit, const char* what) {
  used += amount;
  if (used > limit) throw CQueryOverBudget(std::string("more than ") + std::to_string(limit) + " " + what);
}

void CQueryBudget::ChargeToken() { Charge(m_tokens, 1, m_limits.tokens, "tokens"); }
void CQueryBudget::ChargeTerm() { Charge(m_terms, 1, m_limits.terms, "different terms"); }

void CQueryBudget::ChargePhrase(std::size_t bytes) {
  Charge(m_phrases, 1, m_limits.phrases, "phrases");
  if (bytes > m_limits.phraseBytes)
    throw CQueryOverBudget("a phrase of more than " + std::to_string(m_limits.phraseBytes) + " bytes");
}

void CQueryBudget::ChargeTableScan() { Charge(m_tableScans, 1, m_limits.tableScans, "patterns with wildcards at both ends"); }

void CQueryBudget::ChargeExpandedWords(std::size_t words) {
  Charge(m_expandedWords, words, m_limits.expandedWords, "words matched by wildcards");
}

void CQueryBudget::ChargeDocumentRead() { Charge(m_documentsRead, 1, m_limits.documentsRead, "documents read"); }

void CQueryBudget::CheckTime() const {
  if (ThreadCpuTime() - m_start > m_limits.time)
    throw CQueryOverBudget("more than " +
                           std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(m_limits.time).count()) +
                           " ms of processor time");
}

}  // namespace concorda
