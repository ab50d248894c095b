#include "app/CInstanceChecker.h"
#include "app/CMainFrame.h"
#include "app/CPellavoApp.h"
#include "view/CPellavoView.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace {

// A native Wayland client in a Wayland session: sharp at fractional scales, and raised
// with the activation token a second start hands over. Qt 6.4 chooses Wayland by itself
// except under GNOME, where it goes through XWayland; the list falls back to X11 where the
// Wayland plugin is missing or cannot connect. The user's own choice stands.
bool PreferWayland() {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qgetenv("XDG_SESSION_TYPE") != "wayland" ||
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    CInstanceChecker::KeepLaunchToken();
    const bool chosePlatform = PreferWayland();
    QApplication app(argc, argv);
    // The programs Send To starts make their own choice.
    if (chosePlatform)
        qunsetenv("QT_QPA_PLATFORM");
    // No organisation, so that the per-user data folder is plainly ".../Pellavo".
    QApplication::setOrganizationName(QString());
    QApplication::setApplicationName(QStringLiteral("Pellavo"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setDesktopFileName(QStringLiteral("pellavo"));

    CPellavoApp pellavo;
    if (!pellavo.InitInstance())
        return 0;

    // For checking an installation, not for users: the program goes through Exit as soon
    // as its start-up is done, and says how many feeds the channel file gave the tree.
    if (qEnvironmentVariableIntValue("PELLAVO_QUIT_AFTER_START") == 1) {
        CMainFrame* frame = pellavo.MainFrame();
        QTimer::singleShot(0, frame, [frame] {
            CPellavoView* view = frame->View();
            std::fprintf(stderr, "pellavo: %lld feeds loaded\n",
                         static_cast<long long>(view->CollectRunFeeds(view->RootNode()).size()));
            frame->OnAppExit();
        });
    }
    return app.exec();
}
