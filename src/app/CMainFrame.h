#pragma once

#include <QMainWindow>

class CPellavoDoc;
class CPellavoView;
class Settings;
class UpdateController;
class CTaskBar;
class CTrayIcon;
class QHBoxLayout;
class QMenu;

// The main window: the task bar down the left, the tree of subscriptions in the rest,
// the menu bar and an icon in the notification area. Close only hides it; the program
// goes on until Exit.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `settings` keeps the window position; `update`, the application's update service,
    // goes to the view (without one, the update commands do nothing).
    CMainFrame(CPellavoDoc* doc, Settings* settings, UpdateController* update = nullptr,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    CPellavoView* View() const { return m_pView; }
    CTrayIcon* Tray() const { return m_pTray; }
    CTaskBar* TaskBar() const { return m_pTaskBar; }
    bool IsQuitting() const { return m_bQuitting; }

public slots:
    // Tray "&Open", a double click on the tray icon, or a later start of the program, which
    // hands over the activation token its launcher gave it (empty when there was none).
    void OnOpen(const QByteArray& activationToken = QByteArray());
    // A message from the tray icon, for what the desktop cannot notify otherwise.
    void ShowTrayMessage(const QString& title, const QString& text);
    // File "E&xit" and tray "E&xit": stores the window position and ends the program.
    void OnAppExit();

signals:
    void aboutRequested();
    // Exit has closed the window for good.
    void exited();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ConnectTaskBar();
    void BuildMenus();
    QMenu* AddMenu(const QString& title, const QList<int>& commands);
    void RestoreWindowPosition();
    void SaveWindowPosition();

    CPellavoView* m_pView = nullptr;
    Settings* m_pSettings = nullptr;
    CTrayIcon* m_pTray = nullptr;
    CTaskBar* m_pTaskBar = nullptr;
    QHBoxLayout* m_pLayout = nullptr;
    bool m_bQuitting = false;
};
