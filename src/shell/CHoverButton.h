#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QSize>
#include <QTimer>

// A picture button drawn from one state bitmap: three frames side by side, left to
// right normal, pressed and mouse over. The label is part of the picture, so the
// button's text serves only accessibility and is never drawn.
class CHoverButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CHoverButton(QWidget* parent = nullptr);

    // Loads ":/images/taskbar_<id>.png" (and its "@2x" twin for high-density screens)
    // and resizes the button to one frame, keeping its top-left corner. A missing
    // picture leaves the button with a zero size.
    bool LoadStates(int nBitmapId);
    // The same from pictures at hand; `states2x` may be null.
    void SetStates(const QPixmap& states, const QPixmap& states2x = QPixmap());
    void SetTip(const QString& strText, bool bActivate = true);

    QSize FrameSize() const { return m_sizeFrame; }
    bool IsHot() const { return m_bHot; }

    QSize sizeHint() const override { return m_sizeFrame; }

    // Where the pictures live, by id, as compiled into the program.
    static QString ResourcePath(int nBitmapId);
    static QString ResourcePath2x(int nBitmapId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Watch();
    void BecomeHot();
    bool HasVisibleFocus() const;

    bool m_bHot = false;
    QSize m_sizeFrame;
    QPixmap m_bmpStates;
    QPixmap m_bmpStates2x;
    bool m_bWatching = false;
    // Fires once the mouse has rested on the button for a moment.
    QTimer m_hoverTimer;
};
