#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;

// The splash screen: a frameless, stay-on-top picture centred on the screen while
// Pellavo starts. It stays up for more than two seconds and then goes at the first
// moment the event loop has nothing else to do, so a slow start-up never leaves it
// hanging and a fast one still lets it be seen.
class CDlgSplash : public QWidget {
    Q_OBJECT
public:
    // Shorter than this, a splash is a flicker.
    static constexpr qint64 kMinimumShowMs = 2000;

    explicit CDlgSplash(QWidget* parent = nullptr);

    // Shows the splash centred on the primary screen, paints it at once (start-up may keep
    // the event loop busy for a while) and starts the clock. The splash then removes itself.
    void ShowSplash();

    // The idle check: closes the splash once it has been shown for more than
    // kMinimumShowMs. Returns true while the splash is still waiting for its time.
    bool OnIdle();

    // Milliseconds since ShowSplash, or -1 before it.
    qint64 ShownForMs() const;

signals:
    // The splash has closed itself.
    void dismissed();

private:
    void WaitForMinimumTime();

    QLabel* m_pPicture = nullptr;
    QElapsedTimer m_shown;
    // Wakes up when the minimum time is over, then hands over to the idle timer.
    QTimer m_waitTimer;
    // A zero timer fires only once the event loop has handled everything pending: the idle moment.
    QTimer m_idleTimer;
};
