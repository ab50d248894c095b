#include "shell/CDlgSplash.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

CDlgSplash::CDlgSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("Pellavo"));
    m_pPicture = new QLabel(this);
    m_pPicture->setPixmap(QPixmap(QStringLiteral(":/images/splash.png")));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pPicture);
    setFixedSize(layout->sizeHint());

    m_waitTimer.setSingleShot(true);
    m_waitTimer.setTimerType(Qt::PreciseTimer);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(0);
    connect(&m_waitTimer, &QTimer::timeout, &m_idleTimer, qOverload<>(&QTimer::start));
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (OnIdle())
            WaitForMinimumTime();
    });
}

void CDlgSplash::ShowSplash() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
    repaint();
    m_shown.start();
    WaitForMinimumTime();
}

bool CDlgSplash::OnIdle() {
    if (!m_shown.isValid() || !isVisible())
        return false;
    if (m_shown.elapsed() <= kMinimumShowMs)
        return true;
    m_waitTimer.stop();
    m_idleTimer.stop();
    close();
    emit dismissed();
    return false;
}

qint64 CDlgSplash::ShownForMs() const {
    return m_shown.isValid() ? m_shown.elapsed() : -1;
}

void CDlgSplash::WaitForMinimumTime() {
    const qint64 remaining = kMinimumShowMs + 1 - m_shown.elapsed();
    if (remaining > 0)
        m_waitTimer.start(static_cast<int>(remaining));
    else
        m_idleTimer.start();
}
