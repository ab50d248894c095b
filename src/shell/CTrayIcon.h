#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QMenu;

// Pellavo's icon in the notification area: the way back to the window after Close
// has hidden it. Its menu offers Open (the default, also run by activating the icon),
// About and Exit; what they do is the owner's business, told through the signals.
class CTrayIcon : public QObject {
    Q_OBJECT
public:
    // The frame's document string; its first line is the program's name.
    static const QString kDocumentString;

    explicit CTrayIcon(QObject* parent = nullptr);
    ~CTrayIcon() override;

    // Pellavo's icon in every size it is drawn in, for the tray and the windows.
    static QIcon ApplicationIcon();

    // The tip shown on the icon: the first line of `text`, at most 63 characters.
    static QString TipFromString(const QString& text);

    // Puts the icon into the notification area; false when this desktop has none.
    bool ShowIcon();
    // Takes the icon out of the notification area.
    void RemoveIcon();
    bool IsShown() const;

    // The reaction to a mouse action on the icon: the host's activation runs Open, which
    // is a double click on the old XEmbed tray (a single click does nothing there) and a
    // Trigger on a StatusNotifierItem host, which reports no double clicks; everything else
    // is left alone (the desktop shows the menu). Returns true when it acted.
    bool HandleTrayMessage(QSystemTrayIcon::ActivationReason reason);

    // True when Qt puts the icon on a StatusNotifierItem host: the session bus has a
    // watcher with a host registered. Asked once, as Qt does.
    static bool HasStatusNotifierHost();

    QString ToolTip() const;
    QMenu* Menu() const { return m_pMenu; }
    QAction* OpenAction() const { return m_pOpen; }
    // The desktop's icon object; its activated() signal is how the desktop reports clicks.
    QSystemTrayIcon* SystemTrayIcon() const { return m_pIcon; }

signals:
    void openRequested();
    void aboutRequested();
    void exitRequested();

private:
    QSystemTrayIcon* m_pIcon = nullptr;
    QMenu* m_pMenu = nullptr;
    QAction* m_pOpen = nullptr;
    bool m_bOpenOnTrigger = false;
};
