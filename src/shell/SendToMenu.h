#pragma once

#include "shell/SendTargets.h"

#include <QPoint>
#include <QString>
#include <QStringList>

#include <memory>

class QWidget;

// The Send To command: hands the news feed file, and the files that go along with it (its
// e-book), to one of the targets this desktop offers (removable drives and phones, send-to
// desktop entries, KDE Connect devices, a mail message, a folder). One object serves one command; the finder,
// which keeps what the desktop answered, outlives it.
class SendToMenu {
public:
    // The targets of this machine.
    SendToMenu();
    explicit SendToMenu(std::shared_ptr<SendTargetFinder> finder);
    ~SendToMenu();

    // The whole command: warns and stops when the file is missing or an update is
    // writing it; otherwise shows the menu at `ptMenu` (the owner's coordinates) and
    // carries out the choice. True when the files went to a target.
    bool Run(const QString& strFeedFile, QWidget* pOwner, const QPoint& ptMenu,
             const QStringList& lstWith = {});

    // True when the file exists and no update run holds it locked.
    static bool IsFeedFileReady(const QString& strFeedFile);

    // The news feed file and the files that go along with it, in that order.
    void SetTargetPath(const QString& strPath, const QStringList& lstWith = {});
    // Shows the menu at a screen point; true when the chosen target was carried out,
    // false when it failed (after saying why) or the menu was closed without a choice.
    bool ShowSendTo(QWidget* pOwner, const QPoint& ptScreen);
    // Carries out one target, with an "Error" box when it fails. A copy ends early, the
    // target left as it was, when the user cancels it or the program ends.
    bool SendTo(const SendTarget& target, QWidget* pOwner);

    static const QString kMissingFileText;

private:
    // Copies the files into a folder, named to the user as `strShownName`; says why when
    // it fails, and nothing when the user cancels it.
    bool Copy(const QString& strFolder, const QString& strShownName, QWidget* pOwner);
    bool ShareWithKdeConnect(const SendTarget& target, QWidget* pOwner);
    bool ShareWithKdeConnect(const SendTarget& target, const QString& strFile, QWidget* pOwner);

    std::shared_ptr<SendTargetFinder> m_finder;
    QStringList m_lstFiles;
};
