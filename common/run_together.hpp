// Two pieces of work at once, on the two cores most machines have.
#pragma once

#include <exception>
#include <functional>

namespace dicttools {

/// Runs `second` on a thread of its own while `first` runs on this one, and
/// returns when both have ended. The two must not touch the same memory
/// unless only reading it. When either throws, the exception is rethrown
/// here once both have ended, `first`'s if both threw. When no thread can
/// be started, `second` runs here after `first`: the outcome is the same,
/// only later.
void run_together(const std::function<void()>& first, const std::function<void()>& second);

/// Runs `work`, keeping what it throws in `failure` instead of letting it
/// out: for work whose failure is told later, or elsewhere.
void run_keeping_failure(const std::function<void()>& work, std::exception_ptr& failure) noexcept;

}  // namespace dicttools
