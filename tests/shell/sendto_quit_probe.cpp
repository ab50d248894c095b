// Send To's finder asks a desktop whose volumes hang, as a dead mount does, and the program
// quits meanwhile. The mount comes back only once the application object is gone: says so if
// the worker then goes on.
#include "shell/SendTargets.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

std::atomic_bool g_applicationGone{false};

class HangingDesktop : public SystemSendTargets {
public:
    QList<SendVolume> Volumes() const override {
        while (!g_applicationGone)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!QCoreApplication::instance())
            std::fputs("worker went on after the application\n", stderr);
        return {};
    }
};

} // namespace

int main(int argc, char* argv[]) {
    {
        QCoreApplication app(argc, argv);
        SendTargetFinder finder(std::make_unique<HangingDesktop>());
        finder.Targets(std::chrono::milliseconds(50));
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        app.exec();
    }
    g_applicationGone = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 0;
}
