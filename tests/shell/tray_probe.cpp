// Pellavo's tray icon in a program of its own, on whatever desktop the environment names:
// says which kind of notification area it found, then "OPENED" whenever the icon asks for Open.
#include "shell/CTrayIcon.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTextStream out(stdout);
    CTrayIcon tray;
    QObject::connect(&tray, &CTrayIcon::openRequested, [&out] { out << "OPENED" << Qt::endl; });
    tray.ShowIcon();
    out << (CTrayIcon::HasStatusNotifierHost() ? "STATUS-NOTIFIER" : "XEMBED") << Qt::endl;
    return app.exec();
}
