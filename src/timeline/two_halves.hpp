#pragma once

// A long run of epochs split between two threads. Each epoch's inputs depend
// on nothing but the tables and the epoch, so the halves need no lock and
// write disjoint rows; the machine's second core then takes half the work and
// half the page faults of the fresh output arrays.

#include <cstddef>

#include "readers/concurrently.hpp"
#include "timeline/model_inputs.hpp"

namespace sunindex::timeline {

/// Below this many epochs a second thread costs more to start than it saves.
inline constexpr std::size_t epochs_worth_two_threads = std::size_t{1} << 15;

/// Runs `run(begin, end)` over the epochs [0, count), which returns the index
/// of the first epoch in [begin, end) it stopped at, or all_inside. Returns
/// the first stop in epoch order, as one run over all of them would.
template <class Run>
std::size_t in_two_halves(std::size_t count, Run run) noexcept {
  if (count < epochs_worth_two_threads) return run(std::size_t{0}, count);
  const std::size_t half = count / 2;
  std::size_t head = all_inside, tail = all_inside;
  run_concurrently([&]() noexcept { head = run(std::size_t{0}, half); },
                   [&]() noexcept { tail = run(half, count); });
  return head != all_inside ? head : tail;
}

}  // namespace sunindex::timeline
