// The tree view's update commands, options, Send To and help: the view collects the
// addresses and hands everything else to the update service and the shell.
#include "view/CPellavoView.h"

#include "base/AppPaths.h"
#include "delivery/ui/DeliveryController.h"
#include "shell/SendToMenu.h"
#include "update/EBookEdition.h"
#include "update/ui/UpdateController.h"

#include <QDesktopServices>
#include <QTreeWidgetItemIterator>
#include <QUrl>

void CPellavoView::AttachUpdates() {
    if (!m_pUpdate)
        return;
    UpdateController::Sources sources;
    sources.collectAll = [this] { return CollectRunFeeds(RootNode()); };
    sources.syncChannels = [this] { return m_bSyncChannels; };
    sources.channelFile = [] { return AppPaths::ChannelFile(); };
    sources.titleOf = [this](const QString& url) { return FeedTitle(url); };
    m_pUpdate->Attach(std::move(sources), this);
}

void CPellavoView::DetachUpdates() {
    if (m_pUpdate)
        m_pUpdate->Attach({}, nullptr);
}

void CPellavoView::StartUpdates() {
    // A second initial update must not reload the settings under a run in progress.
    if (!m_pUpdate || m_pUpdate->UpdateTimer().isActive())
        return;
    m_pUpdate->LoadSettings();
    m_pUpdate->StartTimer();
}

QStringList CPellavoView::CollectRunFeeds(const QTreeWidgetItem* node, bool markedOnly) {
    m_lstFeedUrls.clear();
    if (markedOnly)
        CollectMarkedFeeds(node);
    else
        CollectFeeds(node);
    QStringList urls;
    urls.reserve(m_lstFeedUrls.size());
    for (const QByteArray& url : std::as_const(m_lstFeedUrls))
        urls.append(QString::fromUtf8(url));
    return urls;
}

QString CPellavoView::FeedTitle(const QString& url) const {
    const QByteArray wanted = url.toUtf8();
    for (QTreeWidgetItemIterator it(const_cast<CPellavoView*>(this)); *it; ++it) {
        const COutlineItem* item = ItemOf(*it);
        if (item && item->m_pszXmlUrl && wanted == item->m_pszXmlUrl)
            return LabelOf(item);
    }
    return QString();
}

QString CPellavoView::FeedFile() const {
    return m_pUpdate ? m_pUpdate->FeedFile() : QString();
}

void CPellavoView::OnUpdateAll() {
    if (m_pUpdate)
        m_pUpdate->OnUpdate([this] { return CollectRunFeeds(RootNode()); });
}

void CPellavoView::OnUpdateMarked() {
    if (m_pUpdate)
        m_pUpdate->OnUpdate([this] { return CollectRunFeeds(RootNode(), true); });
}

void CPellavoView::OnUpdateCurrent() {
    const QTreeWidgetItem* selected = SelectedNode();
    if (selected && m_pUpdate)
        m_pUpdate->OnUpdate([this, selected] { return CollectRunFeeds(selected); });
}

void CPellavoView::OnOptions() {
    if (m_pUpdate)
        m_pUpdate->OnOptions();
}

void CPellavoView::OnSendTo() {
    SendTo(this, QPoint(0, 70));
}

void CPellavoView::SendTo(QWidget* owner, const QPoint& pos) {
    const QString feedFile = FeedFile();
    const QString book = EBookOfSameRun(feedFile);
    SendToMenu().Run(feedFile, owner, pos, book.isEmpty() ? QStringList() : QStringList{book});
}

void CPellavoView::OnDeliverNow() {
    if (m_pDelivery)
        m_pDelivery->OnDeliverNow(this);
}

void CPellavoView::OnDelivery() {
    if (m_pDelivery)
        m_pDelivery->OnDelivery(this);
}

void CPellavoView::OnHelpContents() {
    // A missing guide or a desktop without a browser is not worth a message.
    QDesktopServices::openUrl(QUrl::fromLocalFile(AppPaths::HelpFile()));
}
