// A word query made ready once for every base it is run on: its text
// prepared (query.h), its shape charged to its budget, and the verdict when
// the budget refused it. The catalogue makes one and gives it to each of its
// bases (CDocServer::FindDocs), so that the budget bounds the whole search.
//
//   concorda::CQueryBudget budget;
//   CWordQuery query("kodeks I pracy", budget);
//   std::vector<DWORD> items;
//   if (!base.FindDocs(query, items)) show(query.Refusal());
//
// Not thread-safe: one query is run by one thread.
#pragma once

#include <string>

#include "concorda/query.h"
#include "concorda/query_budget.h"

class CWordQuery {
 public:
  // Prepares `text` (null is a query that finds nothing) and charges its
  // tokens, terms and phrases; a query over the budget is refused at once.
  CWordQuery(const char* text, concorda::CQueryBudget& budget);

  bool IsRefused() const { return !m_strRefusal.empty(); }
  // Which limit the query passed, in words ("more than 4096 tokens").
  const std::string& Refusal() const { return m_strRefusal; }
  void Refuse(const std::string& why) { m_strRefusal = why.empty() ? "over budget" : why; }

  bool IsNull() const { return m_bNull; }
  const concorda::PreparedQuery& Prepared() const { return m_prepared; }
  concorda::CQueryBudget& Budget() { return m_budget; }

 private:
  concorda::CQueryBudget& m_budget;
  concorda::PreparedQuery m_prepared;
  bool m_bNull = false;
  std::string m_strRefusal;
};
