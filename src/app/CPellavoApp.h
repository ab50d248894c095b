#pragma once

#include <QObject>

#include <memory>

class CAboutDlg;
class Clock;
class DeliveryController;
class CDlgSplash;
class CInstanceChecker;
class CMainFrame;
class CPellavoDoc;
class Settings;
class UpdateController;

// The application: makes sure one instance runs per user, shows the splash, builds the
// services (the settings, the clock, the update service), the document, the main window
// and its view, and owns them until Exit.
class CPellavoApp : public QObject {
    Q_OBJECT
public:
    // `settings` is the profile to use; the user's own when null.
    explicit CPellavoApp(Settings* settings = nullptr);
    ~CPellavoApp() override;

    // The start-up. False when the program should end at once: another instance is
    // running (and has been woken) or the window could not be set up.
    bool InitInstance();

    CMainFrame* MainFrame() const { return m_pFrame.get(); }
    CDlgSplash* Splash() const { return m_pSplash.get(); }

public slots:
    // Help "About Pellavo..." and the tray's "About"; works while the window is hidden.
    void OnAppAbout();

private:
    std::unique_ptr<Settings> m_pOwnSettings;
    Settings* m_pSettings;
    std::unique_ptr<Clock> m_pClock;
    std::unique_ptr<UpdateController> m_pUpdate;
    std::unique_ptr<DeliveryController> m_pDelivery;
    std::unique_ptr<CInstanceChecker> m_pChecker;
    std::unique_ptr<CDlgSplash> m_pSplash;
    std::unique_ptr<CPellavoDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pFrame;
};
