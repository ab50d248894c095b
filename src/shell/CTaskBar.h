#pragma once

#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class CHoverButton;

// The panel down the left side of the main window: a vertical gradient, the panel
// picture with the name banner, and the picture buttons. The bar owns no command: it
// reports clicks through its signals, and the owner (the main frame) connects them to
// the tree view. The "Synchronize Channels" switch is two look-alike buttons, one with
// an empty and one with a ticked box, of which the one matching the view's flag shows.
class CTaskBar : public QWidget {
    Q_OBJECT
public:
    // Button ids, as the commands are numbered throughout the program.
    enum ButtonId {
        IdUpdateAll = 1000,
        IdExportOpml = 1001,
        IdImportOpml = 1002,
        IdUpdateMarked = 1003,
        IdUpdateCurrent = 1004,
        IdSyncOff = 1005,
        IdSyncOn = 1006,
        IdSendTo = 1007,
    };

    explicit CTaskBar(QWidget* parent = nullptr);
    ~CTaskBar() override;

    CHoverButton* Button(int nId) const;
    // Where the Send To menu opens: the Send To button's top-left corner, in the bar's coordinates.
    QPoint SendToMenuPos() const;
    // The bar's width: 109 dialog units in the dialog font, never narrower than the panel picture.
    int BarWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The panel picture; tests and the artwork preview set their own.
    void SetPanel(const QPixmap& panel, const QPixmap& panel2x = QPixmap());

    // The tip of a button that has none of its own: its command's prompt.
    void SetPrompt(int nId, const QString& strPrompt);
    // The widget that the keys go to while a button has the focus: the buttons keep Tab,
    // Shift+Tab and Return (which presses them), and every other key, with the focus,
    // goes to the target. Null keeps the keys at the buttons.
    void SetKeyTarget(QWidget* pTarget);

public slots:
    // Shows the ticked box when the flag is on and the empty one when it is off.
    void UpdateSyncButtons(bool bSyncChannels);

signals:
    void updateAllClicked();
    void updateMarkedClicked();
    void updateCurrentClicked();
    void importClicked();
    void exportClicked();
    void sendToClicked();
    // The user clicked the switch; the argument is the flag's new value.
    void syncToggled(bool bSyncChannels);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnSyncClicked(bool bSyncChannels);

    CHoverButton* m_pUpdateAll;
    CHoverButton* m_pUpdateMarked;
    CHoverButton* m_pUpdateCurrent;
    CHoverButton* m_pImportOpml;
    CHoverButton* m_pExportOpml;
    CHoverButton* m_pSendTo;
    CHoverButton* m_pSyncOff;
    CHoverButton* m_pSyncOn;
    QPixmap m_bmpPanel;
    QPixmap m_bmpPanel2x;
    QPointer<QWidget> m_pKeyTarget;
};
