// The operating system's side of the program.

#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

// While interrupts are caught, the first one is recorded and a closed pipe changes nothing; the
// same interrupt once more ends the process at once, however long winding down would take.
// In a process of its own, whose handlers no other case has set.
TEST(Interrupts, TheSameOneTwiceEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform::catchInterrupts();
            std::raise(SIGINT);
            std::raise(SIGPIPE);
            if (platform::caughtInterrupt() != SIGINT)
                std::_Exit(1);
            std::raise(SIGINT);
            std::_Exit(2);
        },
        ::testing::ExitedWithCode(128 + SIGINT), "");
}
