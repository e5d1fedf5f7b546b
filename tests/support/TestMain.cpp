#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv) {
    // Tests talk to sockets that a peer may close first.
    std::signal(SIGPIPE, SIG_IGN);
    // No test asks a real update server; those that want one set a loopback address.
    setenv("VELLUMO_UPDATE_SERVER", "off", 1);
    // GTK in a test starts no accessibility bus (it would outlive the test).
    setenv("NO_AT_BRIDGE", "1", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
