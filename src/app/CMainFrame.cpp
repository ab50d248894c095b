#include "app/CMainFrame.h"

#include "base/Settings.h"
#include "shell/BCMenu.h"
#include "shell/CTaskBar.h"
#include "shell/CTrayIcon.h"
#include "view/CPellavoView.h"
#include "view/Commands.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>

namespace {
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int kSeparator = 0;
} // namespace

CMainFrame::CMainFrame(CPellavoDoc* doc, Settings* settings, UpdateController* update, QWidget* parent)
    : QMainWindow(parent), m_pSettings(settings) {
    setWindowTitle(QStringLiteral("Corvantis - Pellavo"));
    setWindowIcon(CTrayIcon::ApplicationIcon());

    auto* central = new QWidget(this);
    m_pLayout = new QHBoxLayout(central);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pTaskBar = new CTaskBar(central);
    m_pView = new CPellavoView(doc, central, update);
    m_pLayout->addWidget(m_pTaskBar);
    m_pLayout->addWidget(m_pView, 1);
    setCentralWidget(central);
    ConnectTaskBar();

    BuildMenus();

    m_pTray = new CTrayIcon(this);
    connect(m_pTray, &CTrayIcon::openRequested, this, [this] { OnOpen(); });
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
    // The buttons run the view's commands as the menus and the accelerators do, under the
    // same enabling rules; a button without a tip of its own shows the command's prompt.
    const struct {
        void (CTaskBar::*clicked)();
        int buttonId;
        int commandId;
    } commands[] = {
        {&CTaskBar::updateAllClicked, CTaskBar::IdUpdateAll, ID_UPDATE_ALL},
        {&CTaskBar::updateMarkedClicked, CTaskBar::IdUpdateMarked, ID_UPDATE_MARKED},
        {&CTaskBar::updateCurrentClicked, CTaskBar::IdUpdateCurrent, ID_UPDATE_CURRENT},
        {&CTaskBar::importClicked, CTaskBar::IdImportOpml, ID_IMPORT_OPML},
        {&CTaskBar::exportClicked, CTaskBar::IdExportOpml, ID_EXPORT_OPML},
    };
    for (const auto& command : commands) {
        connect(m_pTaskBar, command.clicked, m_pView,
                [this, id = command.commandId] { m_pView->RunCommand(id); });
        m_pTaskBar->SetPrompt(command.buttonId, m_pView->Action(command.commandId)->statusTip());
    }
    connect(m_pTaskBar, &CTaskBar::sendToClicked, m_pView,
            [this] { m_pView->RunSendTo(m_pTaskBar, m_pTaskBar->SendToMenuPos()); });
    connect(m_pTaskBar, &CTaskBar::syncToggled, m_pView, &CPellavoView::SetSyncChannels);
    connect(m_pView, &CPellavoView::syncChannelsChanged, m_pTaskBar, &CTaskBar::UpdateSyncButtons);
    m_pTaskBar->UpdateSyncButtons(m_pView->SyncChannels());
    // The buttons keep Tab and Return; every other key goes to the tree.
    m_pTaskBar->SetKeyTarget(m_pView);
}

void CMainFrame::BuildMenus() {
    QMenu* file =
        AddMenu(tr("&File"), {ID_IMPORT_OPML, ID_EXPORT_OPML, kSeparator, ID_UPDATE_ALL, ID_UPDATE_MARKED,
                              ID_UPDATE_CURRENT, kSeparator, ID_SEND_TO, ID_DELIVER_NOW, kSeparator});
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setData(ID_APP_EXIT);
    connect(exit, &QAction::triggered, this, &CMainFrame::OnAppExit);

    AddMenu(tr("&Edit"), {ID_EDIT_UNDO, kSeparator, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE});
    AddMenu(tr("&View"), {ID_OPTIONS, ID_DELIVERY});

    QMenu* help = AddMenu(tr("&Help"), {ID_HELP_CONTENTS, kSeparator});
    QAction* about = help->addAction(tr("&About Pellavo..."));
    about->setData(ID_APP_ABOUT);
    connect(about, &QAction::triggered, this, &CMainFrame::aboutRequested);

    BCMenu::Apply(menuBar());
}

void CMainFrame::OnOpen(const QByteArray& activationToken) {
    // A Wayland compositor lets a window come forward only on a token of the launch the user
    // just made; Qt's Wayland plugin spends the one in the environment on the next activation.
    if (!activationToken.isEmpty() && QGuiApplication::platformName() == QLatin1String("wayland"))
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    showNormal();
    raise();
    activateWindow();
    // Also when the window was up already and only comes to the front.
    m_pView->setFocus(Qt::ActiveWindowFocusReason);
}

void CMainFrame::ShowTrayMessage(const QString& title, const QString& text) {
    if (m_pTray->SystemTrayIcon())
        m_pTray->SystemTrayIcon()->showMessage(title, text, QSystemTrayIcon::Warning);
}

void CMainFrame::OnAppExit() {
    m_bQuitting = true;
    close();
}

void CMainFrame::showEvent(QShowEvent* event) {
    // Shown first or again (tray Open, a later start, a restore), the window's keys act on the tree.
    m_pView->setFocus(Qt::ActiveWindowFocusReason);
    QMainWindow::showEvent(event);
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
