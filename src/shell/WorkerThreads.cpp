#include "shell/WorkerThreads.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// Long enough for a cancelled copy to tidy up, short enough not to be felt at Exit.
constexpr std::chrono::seconds kGrace{1};

std::mutex g_mutex;
std::condition_variable g_ended;
int g_running = 0;
bool g_watching = false;

// Runs first thing as the application object is destroyed.
void AtApplicationEnd() {
    std::unique_lock lock(g_mutex);
    g_watching = false;
    if (g_ended.wait_for(lock, kGrace, [] { return g_running == 0; }))
        return;
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

void Ended() {
    const std::lock_guard lock(g_mutex);
    --g_running;
    g_ended.notify_all();
}

} // namespace

bool StartWorkerThread(std::function<void()> work) {
    {
        const std::lock_guard lock(g_mutex);
        if (!g_watching) {
            qAddPostRoutine(&AtApplicationEnd);
            g_watching = true;
        }
        ++g_running;
    }
    try {
        std::thread([work = std::move(work)]() mutable {
            // What the work holds goes with it, before the thread counts as ended.
            std::function<void()>(std::move(work))();
            Ended();
        }).detach();
    } catch (const std::system_error&) {
        Ended();
        return false;
    }
    return true;
}
