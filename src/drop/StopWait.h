#pragma once

#include <chrono>
#include <condition_variable>
#include <stop_token>

namespace kestrove {

// How often a wait below looks at its stop request: short enough that quitting feels immediate.
inline constexpr std::chrono::milliseconds kStopPollInterval{20};

// Waits until done() holds (true) or a stop is requested (false), with lock held around every
// call of done(). Unlike condition_variable_any's own stop_token wait, it registers no
// std::stop_callback: removing one while another thread runs it waits on a semaphore whose wake-up
// the standard library of MinGW-w64's GCC 12 can lose, and under Wine a worker then never came
// back from a stop. Here the stop request is looked at between short waits instead.
template <typename Lock, typename Done>
bool WaitUnlessStopped(std::condition_variable_any& changed, Lock& lock,
                       const std::stop_token& stop, Done done) {
    while (!done()) {
        if (stop.stop_requested()) {
            return false;
        }
        changed.wait_for(lock, kStopPollInterval);
    }
    return true;
}

}  // namespace kestrove
