// Deadline-based polling: the one way tests wait for something another
// thread or process does, instead of sleeping.
#ifndef TESTS_SUPPORT_WAIT_UNTIL_H
#define TESTS_SUPPORT_WAIT_UNTIL_H

#include <chrono>
#include <functional>

namespace test_support {

// The longest a test waits for something that should happen: long enough
// for a loaded machine under Wine, short of ctest's own time-out.
constexpr std::chrono::milliseconds kWaitTimeout{20000};

// Polls `done` every `every` until it holds (true) or `timeout` has passed
// (false). `done` is checked once more at the deadline. The default pace
// leaves another process room between two looks: a poll that reads a file
// the other side replaces must not hold it open all the time.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWaitTimeout,
               std::chrono::milliseconds every = std::chrono::milliseconds(20));

}  // namespace test_support

#endif  // TESTS_SUPPORT_WAIT_UNTIL_H
