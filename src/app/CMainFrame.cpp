#include "app/CMainFrame.h"

#include "shell/BCMenu.h"
#include "shell/CTaskBar.h"
#include "shell/CTrayIcon.h"
#include "shell/SendToMenu.h"
#include "update/Settings.h"
#include "view/CPellavoView.h"
#include "view/Commands.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>

namespace {
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int kSeparator = 0;
} // namespace

CMainFrame::CMainFrame(CPellavoDoc* doc, Settings* settings, QWidget* parent)
    : QMainWindow(parent), m_pSettings(settings) {
    setWindowTitle(QStringLiteral("Corvantis - Pellavo"));
    setWindowIcon(CTrayIcon::ApplicationIcon());

    auto* central = new QWidget(this);
    m_pLayout = new QHBoxLayout(central);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pTaskBar = new CTaskBar(central);
    m_pView = new CPellavoView(doc, central, settings);
    m_pLayout->addWidget(m_pTaskBar);
    m_pLayout->addWidget(m_pView, 1);
    setCentralWidget(central);
    ConnectTaskBar();

    BuildMenus();

    m_pTray = new CTrayIcon(this);
    connect(m_pTray, &CTrayIcon::openRequested, this, &CMainFrame::OnOpen);
    connect(m_pTray, &CTrayIcon::aboutRequested, this, &CMainFrame::aboutRequested);
    connect(m_pTray, &CTrayIcon::exitRequested, this, &CMainFrame::OnAppExit);
    BCMenu::Apply(m_pTray->Menu());
    m_pTray->ShowIcon();

    RestoreWindowPosition();
}

CMainFrame::~CMainFrame() = default;

QMenu* CMainFrame::AddMenu(const QString& title, const QList<int>& commands) {
    QMenu* menu = menuBar()->addMenu(title);
    for (int id : commands) {
        if (id == kSeparator)
            menu->addSeparator();
        else if (QAction* action = m_pView->Action(id))
            menu->addAction(action);
    }
    // Enabling follows the view's state at the moment the menu opens.
    connect(menu, &QMenu::aboutToShow, m_pView, &CPellavoView::UpdateCommandUI);
    return menu;
}

void CMainFrame::ConnectTaskBar() {
    // The buttons call the view's handlers directly, as the menu commands do.
    connect(m_pTaskBar, &CTaskBar::updateAllClicked, m_pView, &CPellavoView::OnUpdateAll);
    connect(m_pTaskBar, &CTaskBar::updateMarkedClicked, m_pView, &CPellavoView::OnUpdateMarked);
    connect(m_pTaskBar, &CTaskBar::updateCurrentClicked, m_pView, &CPellavoView::OnUpdateCurrent);
    connect(m_pTaskBar, &CTaskBar::importClicked, m_pView, &CPellavoView::OnImportOpml);
    connect(m_pTaskBar, &CTaskBar::exportClicked, m_pView, &CPellavoView::OnExportOpml);
    connect(m_pTaskBar, &CTaskBar::syncToggled, m_pView, &CPellavoView::SetSyncChannels);
    connect(m_pView, &CPellavoView::syncChannelsChanged, m_pTaskBar, &CTaskBar::UpdateSyncButtons);
    connect(m_pTaskBar, &CTaskBar::sendToClicked, this,
            [this] { SendToMenu().Run(m_pView->FeedFile(), m_pTaskBar, m_pTaskBar->SendToMenuPos()); });
    m_pTaskBar->UpdateSyncButtons(m_pView->m_bSyncChannels);
}

void CMainFrame::BuildMenus() {
    QMenu* file =
        AddMenu(tr("&File"), {ID_IMPORT_OPML, ID_EXPORT_OPML, kSeparator, ID_UPDATE_ALL, ID_UPDATE_MARKED,
                              ID_UPDATE_CURRENT, kSeparator, ID_SEND_TO, kSeparator});
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setData(ID_APP_EXIT);
    connect(exit, &QAction::triggered, this, &CMainFrame::OnAppExit);

    AddMenu(tr("&Edit"), {ID_EDIT_UNDO, kSeparator, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE});
    AddMenu(tr("&View"), {ID_OPTIONS});

    QMenu* help = AddMenu(tr("&Help"), {ID_HELP_CONTENTS, kSeparator});
    QAction* about = help->addAction(tr("&About Pellavo..."));
    about->setData(ID_APP_ABOUT);
    connect(about, &QAction::triggered, this, &CMainFrame::aboutRequested);

    BCMenu::Apply(menuBar());
}

void CMainFrame::OnOpen() {
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::OnAppExit() {
    m_bQuitting = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_bQuitting) {
        SaveWindowPosition();
        m_pTray->RemoveIcon();
        event->accept();
        emit exited();
        return;
    }
    event->ignore();
    // Without a notification area a hidden window could never be found again.
    if (QSystemTrayIcon::isSystemTrayAvailable() && m_pTray->IsShown())
        hide();
    else
        showMinimized();
}

void CMainFrame::RestoreWindowPosition() {
    const Settings::WinPos pos = m_pSettings->WindowPosition();
    move(pos.x, pos.y);
    resize(pos.cx, pos.cy);
}

void CMainFrame::SaveWindowPosition() {
    // A minimised or maximised window keeps its normal placement, which is what the
    // next start should come back to. The position is that of the frame, as move()
    // takes it, and the size that of the window's contents, as resize() takes it.
    const QRect normal = (isMinimized() || isMaximized()) ? normalGeometry() : geometry();
    const QPoint frameOffset = geometry().topLeft() - pos();
    Settings::WinPos saved;
    saved.x = normal.x() - frameOffset.x();
    saved.y = normal.y() - frameOffset.y();
    saved.cx = normal.width();
    saved.cy = normal.height();
    m_pSettings->SetWindowPosition(saved);
    m_pSettings->Sync();
}
