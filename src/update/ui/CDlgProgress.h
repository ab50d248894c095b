#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

class UpdateEngine;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// "Updating Feeds...": the progress of a manual update run. The run downloads several feeds
// at once, but the dialog tells its story in list order, as a one-by-one run would: the
// status line names the earliest feed not yet done, the bar counts the feeds done in list
// order, and a failed feed's "Error" box, with the reason beneath, comes when its turn comes.
// While that box is up the story waits for it, the downloads behind it go on, and this
// dialog stays usable. A run that ends with failures lists them all (title, address and
// reason) in the dialog, ready to be copied. When the run makes an e-book, the status line
// says so once the feeds are told, counts the pages of its whole articles and its pictures
// as stages of their own ("Fetching articles: 12 of 40", "Fetching pictures: 12 of 85"), and
// a book that could not be made gets its "Error" box after the end text; a page or a picture
// that could not be fetched is no failure.
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
    static QString EBookFailureText(const QString& bookPath, const QString& reason);
    // The failed feeds, one line each: title, address and reason, separated by tabs.
    QString FailedFeedsText() const;

    // The title a feed has in the subscriptions, for the list of failed feeds.
    std::function<QString(const QString& url)> m_titleOf;

    const QStringList* m_pUrlList;
    UpdateEngine* m_pEngine;
    QString m_strStatus;
    QProgressBar* m_ctlProgress;
    QLabel* m_ctlStatus;
    QPushButton* m_btnOK;
    QPushButton* m_btnCancel;
    QTreeWidget* m_ctlFailed;
    QPushButton* m_btnCopyFailed;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnFeedDone(int index, bool ok, const QString& reason);
    void OnMakingEBook();
    // A stage of the book's downloads: "Fetching <what>: done of total".
    void OnBookStage(const QString& what, int done, int total);
    void OnEngineFinished();
    void Present();
    void Advance();
    // The bar and the status line as far as the feeds told so far.
    void ShowPresented();
    void Finish();
    void SetStatus(const QString& text);
    void ShowBox(const QString& text, const QString& reason = QString());
    void ShowWhenDialogIsUp(QMessageBox* box);
    void ShowFailedFeeds();
    QString TitleOf(const QString& url) const { return m_titleOf ? m_titleOf(url) : QString(); }

    struct Done {
        int index;
        bool ok;
        QString reason;
    };
    std::vector<Done> m_failed;
    std::deque<Done> m_pending;
    QTimer m_presentTimer; // tells the feeds done since the last time
    int m_nPresented = 0;
    bool m_bStarted = false;
    bool m_bFailed = false;
    bool m_bMakingEBook = false;
    QString m_strStage; // what the book's downloads under way fetch, if any
    int m_nStageDone = 0;
    int m_nStageTotal = 0;
    bool m_bEngineDone = false;
    bool m_bFinished = false;
    bool m_bClosing = false;
    QPointer<QMessageBox> m_pBox;
};
