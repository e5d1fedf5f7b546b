#pragma once
// Waits for a condition instead of sleeping a fixed time.

#include <chrono>
#include <thread>

template <class Pred> bool WaitFor(Pred pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
