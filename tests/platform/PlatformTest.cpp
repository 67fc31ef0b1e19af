// The operating system's side of the program.

#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <vector>

// While interrupts are caught, the first one is recorded and a closed pipe changes nothing,
// whether it comes before or after; the same interrupt once more ends the process at once,
// however long winding down would take. Each in a process of its own, whose handlers no other
// case has set.
TEST(Interrupts, TheFirstCountsAClosedPipeDoesNotAndTheSameOneTwiceEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        std::vector<int> signals;
        int status; // the recorded signal, or 128 + the one that ended the process
    } cases[] = {{{SIGINT, SIGPIPE}, SIGINT},
                 {{SIGPIPE, SIGTERM}, SIGTERM},
                 {{SIGTERM, SIGPIPE, SIGINT}, SIGTERM},
                 {{SIGPIPE}, SIGPIPE},
                 {{SIGINT, SIGPIPE, SIGINT}, 128 + SIGINT}};
    for (const auto &c : cases) {
        EXPECT_EXIT(
            {
                platform::catchInterrupts();
                for (const int signal : c.signals)
                    std::raise(signal);
                std::_Exit(platform::stopCatchingInterrupts());
            },
            ::testing::ExitedWithCode(c.status), "")
            << c.signals.size() << " signals, the first " << c.signals.front();
    }
}
