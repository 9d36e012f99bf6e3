#include "biblion/act_table.h"

#include <algorithm>

namespace biblion {
namespace {

constexpr DWORD kNoIndex = 0xFFFFFFFF;

// Masks selecting the fields of a first reference that a level compares.
constexpr DWORD kKindMask = 0xF0000000;
constexpr DWORD kYearMask = kKindMask | 0x0FE00000;
constexpr DWORD kNumberMask = kYearMask | 0x001FF000;

// Appends the value of each entry whose value differs from the previous
// entry's (the first always), as the tree's levels list them.
template <class Value>
void AppendDistinct(const ActEntry* begin, const ActEntry* end, Value value, std::vector<DWORD>& out) {
  for (const ActEntry* e = begin; e != end; ++e)
    if (e == begin || value(*e) != value(e[-1])) out.push_back(value(*e));
}

bool Within(DWORD v, DWORD lo, DWORD hi) { return lo <= v && v <= hi; }

}  // namespace

void CActTable::Assign(std::vector<ActEntry> entries) {
  std::sort(entries.begin(), entries.end(), ActEntryLess);
  m_entries = std::move(entries);
}

void CActTable::AssignSorted(std::vector<ActEntry> entries) { m_entries = std::move(entries); }

void CActTable::Clear() { std::vector<ActEntry>().swap(m_entries); }

bool CActTable::IsInTableOrder(const std::vector<ActEntry>& entries) {
  for (std::size_t i = 1; i < entries.size(); ++i)
    if (!ActEntryLess(entries[i - 1], entries[i])) return false;
  return true;
}

std::pair<const ActEntry*, const ActEntry*> CActTable::FirstRange(DWORD lo, DWORD hi) const {
  const ActEntry* b = m_entries.data();
  const ActEntry* e = b + m_entries.size();
  const ActEntry* first = std::lower_bound(b, e, lo, [](const ActEntry& a, DWORD v) { return a.dwFirst < v; });
  const ActEntry* last = std::upper_bound(first, e, hi, [](DWORD v, const ActEntry& a) { return v < a.dwFirst; });
  return {first, last};
}

void CActTable::GetYears(_RNP r, std::vector<DWORD>& out) const {
  DWORD key = r.dw & kKindMask;
  auto [b, e] = FirstRange(key, key | ~kKindMask);
  AppendDistinct(b, e, [](const ActEntry& a) { return _RNP(a.dwFirst).Year(); }, out);
}

void CActTable::GetNumbers(_RNP r, std::vector<DWORD>& out) const {
  DWORD key = r.dw & kYearMask;
  auto [b, e] = FirstRange(key, key | ~kYearMask);
  AppendDistinct(b, e, [](const ActEntry& a) { return _RNP(a.dwFirst).Number(); }, out);
}

void CActTable::GetPositions(_RNP r, std::vector<DWORD>& out) const {
  DWORD key = r.dw & kNumberMask;
  auto [b, e] = FirstRange(key, key | ~kNumberMask);
  while (b != e && _RNP(b->dwSecond).Kind() == _RNP::kRuling) ++b;
  const std::size_t start = out.size();
  AppendDistinct(b, e, [](const ActEntry& a) { return _RNP(a.dwFirst).Position(); }, out);
  // A number cited both plainly and with a prefix ("78" and "Nr 78") holds
  // two runs of positions; the list promises each position once, ascending.
  auto from = out.begin() + static_cast<std::ptrdiff_t>(start);
  if (!std::is_sorted(from, out.end())) {
    std::sort(from, out.end());
    out.erase(std::unique(from, out.end()), out.end());
  }
}

_RNP CActTable::GetSubPositions(_RNP r, std::vector<DWORD>& out) const {
  const DWORD mask = r.Number() ? kNumberMask : kYearMask;
  const DWORD key = r.dw & mask;
  auto [b, e] = FirstRange(key, key | ~mask);
  const ActEntry* act = std::find_if(b, e, [&](const ActEntry& a) { return _RNP(a.dwFirst).Position() == r.Position(); });
  if (act == e) return r;
  const _RNP found(act->dwFirst);
  if (r.Number() == 0) r.SetNumber(found.Number());
  if (r.Prefix() == 0) r.SetPrefix(found.Prefix());
  out.push_back(act->dwSecond);
  const DWORD self = r.dw & ~_RNP::kPrefixBit;
  for (const ActEntry* a = act + 1; a != m_entries.data() + m_entries.size(); ++a) {
    if ((a->dwFirst & ~_RNP::kPrefixBit) != self) break;
    if (_RNP(a->dwSecond).Kind() == _RNP::kRuling) break;
    if (a->dwSecond != a[-1].dwSecond) out.push_back(a->dwSecond);
  }
  return r;
}

bool CActTable::FindFromRNP(_RNP from, _RNP to, int mode, std::vector<DWORD>& out) const {
  out.clear();
  if (mode < 0 || mode > 2) return false;
  // Each field is a range of its own: numbers 5 to 10 of the years 90 to 99
  // are those numbers in every one of those years, not the stretch of the
  // table from 90/5 to 99/10.
  const DWORD lo = _RNP::Make(from.Kind(), from.Year(), 0, 0).dw;
  const DWORD hi = _RNP::Make(to.Kind(), to.Year(), 0x1FF, 0x7FF, 1).dw;
  if (lo > hi) return false;
  auto [b, e] = FirstRange(lo, hi);
  // Room for every entry of the stretch at once: the bounds of a search
  // often take a hundred thousand acts, and a list grown by doubling copies
  // them over and over.
  std::vector<const ActEntry*> s;
  s.reserve(static_cast<std::size_t>(e - b));
  for (const ActEntry* a = b; a != e; ++a) {
    const _RNP f(a->dwFirst);
    if (Within(f.Kind(), from.Kind(), to.Kind()) && Within(f.Year(), from.Year(), to.Year()) &&
        Within(f.Number(), from.Number(), to.Number()) && Within(f.Position(), from.Position(), to.Position()))
      s.push_back(a);
  }
  if (s.empty()) return false;
  const std::size_t n = s.size();
  out.reserve(n);
  switch (mode) {
    case 1:
      for (std::size_t k = 0; k < n; ++k)
        if (k == 0 || s[k]->dwFirst != s[k - 1]->dwFirst) out.push_back(s[k]->dwIndex);
      break;
    case 2:
      for (std::size_t k = 0; k < n; ++k)
        if (k == 0 || s[k]->dwSecond != s[k - 1]->dwSecond) out.push_back(s[k]->dwIndex);
      break;
    default:
      // Walk an act's versions up to the last one before its rulings and
      // give that one; then go on behind it, skipping repeated documents.
      for (std::size_t k = 0; k < n;) {
        std::size_t j = k;
        while (j + 1 < n && s[j + 1]->dwFirst == s[j]->dwFirst && s[j + 1]->dwSecond != s[j]->dwSecond &&
               _RNP(s[j + 1]->dwSecond).Kind() != _RNP::kRuling)
          ++j;
        out.push_back(s[j]->dwIndex);
        k = j + 1;
        while (k < n && s[k]->dwSecond == s[k - 1]->dwSecond) ++k;
      }
      break;
  }
  return true;
}

DWORD CActTable::GetIndex(_RNP first, _RNP second) const {
  auto it = std::lower_bound(m_entries.begin(), m_entries.end(), std::make_pair(first.dw, second.dw),
                             [](const ActEntry& a, const std::pair<DWORD, DWORD>& k) {
                               return a.dwFirst != k.first ? a.dwFirst < k.first : a.dwSecond < k.second;
                             });
  if (it == m_entries.end() || it->dwFirst != first.dw || it->dwSecond != second.dw) return kNoIndex;
  return it->dwIndex;
}

}  // namespace biblion
