// The tree view's update commands, options, Send To and help: the view collects the
// addresses and hands everything else to the update controller and the shell.
#include "view/CPellavoView.h"

#include "shell/SendToMenu.h"
#include "update/AppPaths.h"
#include "update/Schedule.h"
#include "update/Settings.h"
#include "update/ui/UpdateController.h"

#include <QDesktopServices>
#include <QUrl>

void CPellavoView::StartUpdates() {
    // A second initial update must not start a second controller under a run in progress.
    if (m_pUpdate)
        return;
    UpdateController::Sources sources;
    sources.collectAll = [this] {
        m_lstFeedUrls.clear();
        CollectFeeds(RootNode());
        return TakeFeedUrls();
    };
    sources.syncChannels = [this] { return m_bSyncChannels; };
    sources.channelFile = [] { return AppPaths::ChannelFile(); };
    m_pUpdate = std::make_unique<UpdateController>(*m_pSettings, *m_pClock, std::move(sources), this);
    m_pUpdate->LoadSettings();
    m_pUpdate->StartTimer();
}

QStringList CPellavoView::TakeFeedUrls() {
    QStringList urls;
    urls.reserve(m_lstFeedUrls.size());
    for (const QByteArray& url : std::as_const(m_lstFeedUrls))
        urls.append(QString::fromUtf8(url));
    return urls;
}

QString CPellavoView::FeedFile() const {
    return m_pUpdate ? m_pUpdate->FeedFile() : m_pSettings->FeedFile();
}

void CPellavoView::OnUpdateAll() {
    StartUpdates();
    m_pUpdate->OnUpdate([this] {
        m_lstFeedUrls.clear();
        CollectFeeds(RootNode());
        return TakeFeedUrls();
    });
}

void CPellavoView::OnUpdateMarked() {
    StartUpdates();
    m_pUpdate->OnUpdate([this] {
        m_lstFeedUrls.clear();
        CollectMarkedFeeds(RootNode());
        return TakeFeedUrls();
    });
}

void CPellavoView::OnUpdateCurrent() {
    const QTreeWidgetItem* selected = SelectedNode();
    if (!selected)
        return;
    StartUpdates();
    m_pUpdate->OnUpdate([this, selected] {
        m_lstFeedUrls.clear();
        CollectFeeds(selected);
        return TakeFeedUrls();
    });
}

void CPellavoView::OnOptions() {
    StartUpdates();
    m_pUpdate->OnOptions();
}

void CPellavoView::OnSendTo() {
    SendTo(this, QPoint(0, 70));
}

void CPellavoView::SendTo(QWidget* owner, const QPoint& pos) {
    SendToMenu().Run(FeedFile(), owner, pos);
}

void CPellavoView::OnHelpContents() {
    // A missing guide or a desktop without a browser is not worth a message.
    QDesktopServices::openUrl(QUrl::fromLocalFile(AppPaths::HelpFile()));
}
