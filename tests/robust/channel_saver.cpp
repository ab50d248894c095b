// One edit of a running Pellavo, stopped dead at a chosen file-system step of its save:
//   channel_saver <application name> <new subscriptions> <step> before|halfway
// starts the view on the channel file, replaces the subscriptions with the new file's
// and runs SaveChannel. Every call that changes a file (open for writing, write, sync,
// truncate, link, rename, unlink) counts as a step; the process ends with _exit at
// step <step>, before it, or after writing half of its bytes. Step 0 stops nowhere and
// prints the steps the save took, one word each, on one line.
#include "ModelTestUtil.h"
#include "StopAtStep.h"
#include "model/PellavoDoc.h"
#include "view/CPellavoView.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
    if (argc != 5)
        return 2;
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    // The test's own name, so that the channel file is the one the test looks at.
    QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[1]));
    CPellavoDoc doc;
    CPellavoView view(&doc);
    {
        // Standard output is for the steps, not for the reader's trace lines.
        const pellavo::test::StdoutRedirect quiet;
        view.OnInitialUpdate();
        view.ReloadChannel(QString::fromLocal8Bit(argv[2]));
    }
    stopatstep::Arm(std::atoi(argv[3]), std::strcmp(argv[4], "halfway") == 0);
    view.SaveChannel();
    stopatstep::Disarm();
    std::printf("%s\n", stopatstep::Taken().c_str());
    return 0;
}
