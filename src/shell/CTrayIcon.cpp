#include "shell/CTrayIcon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>

namespace {
constexpr qsizetype kMaxTipLength = 63;
} // namespace

const QString CTrayIcon::kDocumentString =
    QStringLiteral("Pellavo\n\nPellavo\n\n\nPellavo.Document\nPellavo.Document");

CTrayIcon::CTrayIcon(QObject* parent) : QObject(parent) {
    // The menu has no parent widget, so the tray owns it.
    m_pMenu = new QMenu;
    m_pMenu->setTitle(QStringLiteral("Tray(&T)"));
    m_pOpen = m_pMenu->addAction(QStringLiteral("&Open"), this, &CTrayIcon::openRequested);
    QFont bold = m_pOpen->font();
    bold.setBold(true);
    m_pOpen->setFont(bold);
    m_pMenu->setDefaultAction(m_pOpen);
    m_pMenu->addAction(QStringLiteral("&About"), this, &CTrayIcon::aboutRequested);
    m_pMenu->addSeparator();
    m_pMenu->addAction(QStringLiteral("E&xit"), this, &CTrayIcon::exitRequested);

    m_bOpenOnTrigger = HasStatusNotifierHost();
    m_pIcon = new QSystemTrayIcon(ApplicationIcon(), this);
    m_pIcon->setToolTip(TipFromString(kDocumentString));
    m_pIcon->setContextMenu(m_pMenu);
    connect(m_pIcon, &QSystemTrayIcon::activated, this, &CTrayIcon::HandleTrayMessage);
}

CTrayIcon::~CTrayIcon() {
    RemoveIcon();
    delete m_pMenu;
}

QIcon CTrayIcon::ApplicationIcon() {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/images/app_%1.png").arg(side), QSize(side, side));
    return icon;
}

QString CTrayIcon::TipFromString(const QString& text) {
    return text.section(QLatin1Char('\n'), 0, 0).left(kMaxTipLength);
}

bool CTrayIcon::ShowIcon() {
    m_pIcon->show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CTrayIcon::RemoveIcon() {
    m_pIcon->hide();
}

bool CTrayIcon::IsShown() const {
    return m_pIcon->isVisible();
}

bool CTrayIcon::HasStatusNotifierHost() {
    static const bool bHost = [] {
        const QString strWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface()->isServiceRegistered(strWatcher))
            return false;
        QDBusMessage call = QDBusMessage::createMethodCall(
            strWatcher, QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << strWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
        const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               reply.arguments().first().value<QDBusVariant>().variant().toBool();
    }();
    return bHost;
}

bool CTrayIcon::HandleTrayMessage(QSystemTrayIcon::ActivationReason reason) {
    const bool bActivated =
        reason == QSystemTrayIcon::DoubleClick || (reason == QSystemTrayIcon::Trigger && m_bOpenOnTrigger);
    if (!bActivated)
        return false;
    m_pOpen->trigger();
    return true;
}

QString CTrayIcon::ToolTip() const {
    return m_pIcon->toolTip();
}
