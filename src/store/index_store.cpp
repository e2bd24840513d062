#include "store/index_store.hpp"

#include <algorithm>
#include <iterator>

namespace sunindex {
namespace {

bool date_before(const DailyIndices& a, const DailyIndices& b) noexcept { return a.date < b.date; }

/// Collapses runs of equal dates in a date-sorted vector into their first
/// record, which keeps its own values and takes the later records' values
/// only where it lacks them.
void collapse_equal_dates(std::vector<DailyIndices>& sorted) noexcept {
  if (sorted.empty()) return;
  auto kept = sorted.begin();
  for (auto next = std::next(kept); next != sorted.end(); ++next) {
    if (next->date == kept->date) {
      kept->fill_absent_from(*next);
    } else if (++kept != next) {
      *kept = *next;
    }
  }
  sorted.erase(std::next(kept), sorted.end());
}

}  // namespace

IndexStore IndexStore::from_records(std::vector<DailyIndices> records) {
  // Published files are in strictly ascending date order: one pass proves
  // it and saves the sort's buffer and the collapse's walk.
  const auto strictly_ascending = [](const DailyIndices& a, const DailyIndices& b) { return !(a.date < b.date); };
  if (std::adjacent_find(records.begin(), records.end(), strictly_ascending) == records.end()) {
    return IndexStore(std::move(records));
  }
  std::stable_sort(records.begin(), records.end(), date_before);
  collapse_equal_dates(records);
  return IndexStore(std::move(records));
}

const DailyIndices* IndexStore::get(CivilDate date) const noexcept {
  const auto found = std::lower_bound(records_.begin(), records_.end(), date,
                                      [](const DailyIndices& r, CivilDate d) { return r.date < d; });
  if (found == records_.end() || found->date != date) return nullptr;
  return &*found;
}

std::span<const DailyIndices> IndexStore::get_range(CivilDate start, CivilDate end) const noexcept {
  if (end < start) return {};
  const auto first = std::lower_bound(records_.begin(), records_.end(), start,
                                      [](const DailyIndices& r, CivilDate d) { return r.date < d; });
  const auto last = std::upper_bound(first, records_.end(), end,
                                     [](CivilDate d, const DailyIndices& r) { return d < r.date; });
  return {first, last};
}

std::optional<std::pair<CivilDate, CivilDate>> IndexStore::date_range() const noexcept {
  if (records_.empty()) return std::nullopt;
  return std::pair{records_.front().date, records_.back().date};
}

void IndexStore::merge(IndexStore& other) {
  if (records_.empty()) {  // nothing of ours can win: take other's records as they are
    records_ = std::move(other.records_);
    other.records_ = {};
    return;
  }
  // Both sides are sorted and unique, so a stable merge that prefers this
  // store on ties equals the stable sort of the concatenation (self first),
  // and every run of equal dates is exactly (self's record, other's record).
  std::vector<DailyIndices> combined;
  combined.reserve(records_.size() + other.records_.size());  // the only allocation
  std::merge(records_.begin(), records_.end(), other.records_.begin(), other.records_.end(),
             std::back_inserter(combined), date_before);
  collapse_equal_dates(combined);
  records_ = std::move(combined);
  other.records_ = {};
}

}  // namespace sunindex
