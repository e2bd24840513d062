#pragma once

// A long run of epochs split between two threads. Each epoch's inputs depend
// on nothing but the tables and the epoch, so the halves need no lock and
// write disjoint rows; the machine's second core then takes half the work and
// half the page faults of the fresh output arrays.

#include <cstddef>
#include <optional>

#include "common/concurrently.hpp"

namespace sunindex::timeline {

/// Below this many output rows a second thread costs more to start than it saves.
inline constexpr std::size_t rows_worth_two_threads = std::size_t{1} << 15;

/// Runs `run(begin, end)` over the epochs [0, count), which returns where in
/// [begin, end) it stopped (an optional failure) or none. Returns the first
/// stop in epoch order, as one run over all of them would. Each epoch writes
/// `rows_per_epoch` rows (the members of an ensemble).
template <class Run>
auto in_two_halves(std::size_t count, Run run, std::size_t rows_per_epoch = 1) noexcept
    -> decltype(run(std::size_t{0}, count)) {
  if (count < 2 || count * rows_per_epoch < rows_worth_two_threads) return run(std::size_t{0}, count);
  const std::size_t half = count / 2;
  decltype(run(std::size_t{0}, count)) head{}, tail{};
  run_concurrently([&]() noexcept { head = run(std::size_t{0}, half); },
                   [&]() noexcept { tail = run(half, count); });
  return head ? head : tail;
}

}  // namespace sunindex::timeline
