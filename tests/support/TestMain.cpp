#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // Tests talk to sockets that a peer may close first.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
