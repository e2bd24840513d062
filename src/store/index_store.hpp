#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "store/civil_date.hpp"
#include "store/daily_indices.hpp"

namespace sunindex {

/// The records of one object: at most one per date, in strictly ascending
/// date order, contiguous so that every lookup is a binary search.
class IndexStore {
 public:
  IndexStore() = default;

  /// Builds a store from records in reader (file) order. Records of the same
  /// date combine into the first of them: each field comes from the earliest
  /// record that has it.
  static IndexStore from_records(std::vector<DailyIndices> records);

  /// The record of `date`, or nullptr. Valid while the store is unchanged.
  const DailyIndices* get(CivilDate date) const noexcept;

  /// The records with start <= date <= end, ascending; empty when end < start.
  std::span<const DailyIndices> get_range(CivilDate start, CivilDate end) const noexcept;

  /// (first date, last date), or none for an empty store.
  std::optional<std::pair<CivilDate, CivilDate>> date_range() const noexcept;

  std::uint64_t len() const noexcept { return records_.size(); }

  /// Every record, ascending.
  std::span<const DailyIndices> all() const noexcept { return records_; }

  /// Absorbs `other`, which is left empty. On a date both hold, this store's
  /// values win field by field and other's fill the gaps. Either completes or,
  /// if memory runs out, throws std::bad_alloc with both stores unchanged.
  void merge(IndexStore& other);

 private:
  explicit IndexStore(std::vector<DailyIndices> sorted_unique) noexcept
      : records_(std::move(sorted_unique)) {}

  std::vector<DailyIndices> records_;
};

}  // namespace sunindex
