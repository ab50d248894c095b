#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

#include <deque>

class UpdateEngine;
class QLabel;
class QProgressBar;
class QPushButton;

// "Updating Feeds...": the progress of a manual update run. The run downloads several feeds
// at once, but the dialog tells its story in list order, as a one-by-one run would: the
// status line names the earliest feed not yet done, the bar counts the feeds done in list
// order, and a failed feed's "Error" box comes when its turn comes. While that box is up the
// story waits for it, the downloads behind it go on, and this dialog stays usable.
class CDlgProgress : public QDialog {
    Q_OBJECT
public:
    // Neither is owned; both outlive the dialog.
    CDlgProgress(const QStringList* pUrlList, UpdateEngine* pEngine, QWidget* parent = nullptr);

    // OK is enabled: the run has ended and every box has been answered.
    bool IsFinished() const { return m_bFinished; }
    // The failure box that is up, if any.
    QMessageBox* FailureBox() const { return m_pBox; }

    void reject() override;

    static QString FailureText(const QString& url);

    const QStringList* m_pUrlList;
    UpdateEngine* m_pEngine;
    QString m_strStatus;
    QProgressBar* m_ctlProgress;
    QLabel* m_ctlStatus;
    QPushButton* m_btnOK;
    QPushButton* m_btnCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnFeedDone(int index, bool ok);
    void OnEngineFinished();
    void Present();
    void Advance();
    void Finish();
    void SetStatus(const QString& text);
    void ShowBox(const QString& text);

    struct Done {
        int index;
        bool ok;
    };
    std::deque<Done> m_pending;
    int m_nPresented = 0;
    bool m_bStarted = false;
    bool m_bFailed = false;
    bool m_bEngineDone = false;
    bool m_bFinished = false;
    bool m_bClosing = false;
    QPointer<QMessageBox> m_pBox;
};
