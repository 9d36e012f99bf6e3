#include "concorda/word_query.h"

CWordQuery::CWordQuery(const char* text, concorda::CQueryBudget& budget) : m_budget(budget) {
  if (!text) {
    m_bNull = true;
    return;
  }
  m_prepared = concorda::PrepareQuery(text);
  try {
    concorda::ChargeQueryShape(m_prepared, m_budget);
  } catch (const concorda::CQueryOverBudget& e) {
    Refuse(e.what());
  }
}
