// A replaced global operator new for test programs that check the real-time rules: it counts
// every heap allocation of the program (a plugin loaded into it included) and can make a
// chosen one fail. Link counting_allocator.cpp into the program to use it.
#pragma once

#include <atomic>

namespace vorlund::test {

extern std::atomic<long> allocationCount;
// While positive, counts down on every allocation; the one that brings it to zero fails.
extern std::atomic<long> failCountdown;
extern std::atomic<bool> failureHappened;

}  // namespace vorlund::test
