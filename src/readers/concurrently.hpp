#pragma once

#include <exception>
#include <thread>

namespace sunindex {

/// Runs `here()` on this thread and `there()` on a second one, and returns
/// once both have ended. When no thread can be started, runs both here, one
/// after the other, which gives the same results. An exception of either
/// (std::bad_alloc) is rethrown here once both have ended, never from the
/// second thread; `here`'s first.
template <class Here, class There>
void run_concurrently(Here&& here, There&& there) {
  std::exception_ptr there_failure;
  std::thread worker;
  try {
    worker = std::thread([&]() noexcept {
      try {
        there();
      } catch (...) {
        there_failure = std::current_exception();
      }
    });
  } catch (...) {
    here();
    there();
    return;
  }
  std::exception_ptr here_failure;
  try {
    here();
  } catch (...) {
    here_failure = std::current_exception();
  }
  worker.join();
  if (here_failure) std::rethrow_exception(here_failure);
  if (there_failure) std::rethrow_exception(there_failure);
}

}  // namespace sunindex
