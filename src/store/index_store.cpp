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

/// The number of dates in the union of two sorted, unique record sequences.
std::size_t count_distinct_dates(const std::vector<DailyIndices>& a, const std::vector<DailyIndices>& b) noexcept {
  std::size_t i = 0, j = 0, count = 0;
  while (i < a.size() && j < b.size()) {
    const CivilDate x = a[i].date, y = b[j].date;
    i += !(y < x);
    j += !(x < y);
    ++count;
  }
  return count + (a.size() - i) + (b.size() - j);
}

/// Merges `theirs` into the first `own_size` records of `records`, which is
/// already sized for the union. Both inputs are sorted and unique; on a date
/// both hold, the own record keeps its values and takes theirs only where it
/// lacks them. Walking from the back never overwrites an own record before
/// it has been moved, since the write position is never below the read one.
void merge_from_back(std::vector<DailyIndices>& records, std::size_t own_size,
                     const std::vector<DailyIndices>& theirs) noexcept {
  // Own records move up by the number of their records still to be placed
  // below them, which is often none: a file that only adds values to days
  // the store has then costs no copy at all.
  std::size_t write = records.size(), own = own_size, their = theirs.size();
  while (their > 0) {  // once theirs are placed, the own records left are already in place
    const DailyIndices& next_theirs = theirs[their - 1];
    if (own > 0 && next_theirs.date < records[own - 1].date) {
      --write, --own;
      if (write != own) records[write] = records[own];
    } else if (own > 0 && next_theirs.date == records[own - 1].date) {
      --write, --own, --their;
      if (write != own) records[write] = records[own];
      records[write].fill_absent_from(next_theirs);
    } else {
      records[--write] = next_theirs;
      --their;
    }
  }
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
  // The merged records are written into this store's own buffer, from the
  // back, so that no third copy of the data exists at any time. Only growing
  // the buffer allocates, and that happens before anything changes.
  const std::size_t merged_size = count_distinct_dates(records_, other.records_);
  if (records_.capacity() < merged_size) {
    std::vector<DailyIndices> grown;
    grown.reserve(merged_size);
    grown.assign(records_.begin(), records_.end());
    records_.swap(grown);
  }
  const std::size_t own_size = records_.size();
  records_.resize(merged_size);
  merge_from_back(records_, own_size, other.records_);
  other.records_ = {};
}

}  // namespace sunindex
