#include "app/CPellavoApp.h"

#include "app/CInstanceChecker.h"
#include "app/CMainFrame.h"
#include "base/Settings.h"
#include "delivery/ui/DeliveryController.h"
#include "model/PellavoDoc.h"
#include "shell/CAboutDlg.h"
#include "shell/CDlgSplash.h"
#include "update/Schedule.h"
#include "update/ui/UpdateController.h"
#include "view/CPellavoView.h"

#include <QApplication>

CPellavoApp::CPellavoApp(Settings* settings)
    : m_pOwnSettings(settings ? nullptr : std::make_unique<Settings>()),
      m_pSettings(settings ? settings : m_pOwnSettings.get()), m_pClock(std::make_unique<Clock>()) {}

CPellavoApp::~CPellavoApp() = default;

bool CPellavoApp::InitInstance() {
    // The check and the listen come first, as one step, so that two starts at the same
    // moment give one instance; a wake-up arriving before the window is there finds it shown.
    m_pChecker = std::make_unique<CInstanceChecker>(QStringLiteral("Pellavo"));
    if (!m_pChecker->StartOrWake())
        return false;

    m_pSplash = std::make_unique<CDlgSplash>();
    m_pSplash->ShowSplash();

    // The window hides on Close and the about box may be the only window open, so the
    // program ends on Exit alone.
    QApplication::setQuitOnLastWindowClosed(false);

    m_pUpdate = std::make_unique<UpdateController>(*m_pSettings, *m_pClock);
    m_pDoc = std::make_unique<CPellavoDoc>();
    m_pFrame = std::make_unique<CMainFrame>(m_pDoc.get(), m_pSettings, m_pUpdate.get());
    connect(m_pFrame.get(), &CMainFrame::aboutRequested, this, &CPellavoApp::OnAppAbout);
    connect(m_pFrame.get(), &CMainFrame::exited, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    m_pDelivery = std::make_unique<DeliveryController>(*m_pSettings, *m_pUpdate);
    m_pFrame->View()->SetDelivery(m_pDelivery.get());
    connect(m_pDelivery.get(), &DeliveryController::trayMessage, m_pFrame.get(),
            &CMainFrame::ShowTrayMessage);
    m_pFrame->View()->OnInitialUpdate();
    m_pDelivery->Start();

    m_pFrame->show();

    m_pChecker->SetWindowToRecord(m_pFrame.get());
    connect(m_pChecker.get(), &CInstanceChecker::anotherInstanceStarted, m_pFrame.get(), &CMainFrame::OnOpen);
    return true;
}

void CPellavoApp::OnAppAbout() {
    // Parented to the window only while it shows, so that the box still appears, centred
    // on the screen, when the window is hidden in the notification area.
    CAboutDlg about(m_pFrame && m_pFrame->isVisible() ? m_pFrame.get() : nullptr);
    about.exec();
    // As after the view's own commands, the window's keys go on acting on the tree.
    if (m_pFrame)
        m_pFrame->View()->setFocus(Qt::OtherFocusReason);
}
