#include "run_together.hpp"

#include <exception>
#include <system_error>
#include <thread>

namespace dicttools {

void run_keeping_failure(const std::function<void()>& work, std::exception_ptr& failure) noexcept {
    try {
        work();
    } catch (...) {
        failure = std::current_exception();
    }
}

void run_together(const std::function<void()>& first, const std::function<void()>& second) {
    std::exception_ptr first_failure;
    std::exception_ptr second_failure;
    std::thread helper;
    try {
        helper = std::thread(run_keeping_failure, std::cref(second), std::ref(second_failure));
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): one after the other.
    }
    run_keeping_failure(first, first_failure);
    if (helper.joinable()) {
        helper.join();
    } else {
        run_keeping_failure(second, second_failure);
    }
    if (first_failure) {
        std::rethrow_exception(first_failure);
    }
    if (second_failure) {
        std::rethrow_exception(second_failure);
    }
}

}  // namespace dicttools
