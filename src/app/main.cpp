#include "app/CInstanceChecker.h"
#include "app/CMainFrame.h"
#include "app/CPellavoApp.h"
#include "view/CPellavoView.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    CInstanceChecker::KeepLaunchToken();
    QApplication app(argc, argv);
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
