// What waking up costs on this machine, to read bench/cpu.sh's figures against: the CPU time
// of a thread that does nothing but sleep until its next tick, 20 ticks a second (the panel's
// meter clock), for a few seconds. On bare metal a wake-up costs a few microseconds; in a
// virtual machine whose virtual CPUs halt when idle it can cost ten times that, and the panel
// has two threads that wake 20 times a second (the main thread and the emulated audio).
//
// Usage: wake_cost [SECONDS]   (default 3)

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    constexpr int kTicksPerSecond = 20;
    const int ticks = seconds * kTicksPerSecond;
    double cpu = 0;
    std::thread sleeper([&] {
        const double start = threadCpuSeconds();
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < ticks; ++i) {
            next += std::chrono::milliseconds(1000 / kTicksPerSecond);
            std::this_thread::sleep_until(next);
        }
        cpu = threadCpuSeconds() - start;
    });
    sleeper.join();
    std::printf(
        "an idle thread waking %d times a second: %.2f %% of one core (%.0f us per wake-up)\n",
        kTicksPerSecond, cpu / seconds * 100, cpu / ticks * 1e6);
    return 0;
}
