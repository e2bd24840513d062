#pragma once

#include <atomic>
#include <exception>
#include <thread>

namespace sunindex {

/// Runs `here()` on this thread and `there()` on a second one, and returns
/// once both have ended. Whichever thread is free first runs `there`: on a
/// busy machine the second thread may not start before this one is done,
/// and waiting for it would then cost more than doing the work here. When
/// no thread can be started, both run here, one after the other, which
/// gives the same results. An exception of either (std::bad_alloc) is
/// rethrown here once both have ended, never from the second thread;
/// `here`'s first.
template <class Here, class There>
void run_concurrently(Here&& here, There&& there) {
  std::exception_ptr here_failure, there_failure;
  std::atomic<bool> there_taken{false};
  const auto run_there = [&]() noexcept {
    if (there_taken.exchange(true)) return;
    try {
      there();
    } catch (...) {
      there_failure = std::current_exception();
    }
  };
  std::thread worker;
  try {
    worker = std::thread(run_there);
  } catch (...) {  // no thread: the same work, here
  }
  try {
    here();
  } catch (...) {
    here_failure = std::current_exception();
  }
  run_there();
  if (worker.joinable()) worker.join();
  if (here_failure) std::rethrow_exception(here_failure);
  if (there_failure) std::rethrow_exception(there_failure);
}

}  // namespace sunindex
