#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;
class QWidget;

// "Options": where the news feed file goes, what its e-book editions bring and when the
// automatic update runs. The caller
// sets the members before showing the dialog and reads them after OK.
class CDlgOptions : public QDialog {
    Q_OBJECT
public:
    explicit CDlgOptions(QWidget* parent = nullptr);

    void accept() override;

    QString m_strFeedFile;
    bool m_bEBook = false;
    // What each edition of the e-book brings, and how many are kept.
    bool m_bOnlyNew = true;
    int m_nMaxArticles = 25;
    int m_nMaxAgeDays = 7;
    int m_nKeep = 7;
    // Empties the article history, after the user said Yes; false and why when it could not.
    std::function<bool(QString* error)> m_forgetArticles;
    bool m_bGreyPictures = false;
    int m_nIntervalChoice = 0; // 0 to 3: 1, 2, 4, 8 hours; 4: daily
    int m_nHour = 0;
    int m_nMinute = 0;
    QTimeEdit* m_ctlTime;

    static constexpr int DailyChoice = 4;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnBrowse();
    void OnForget();
    void TransferToControls();

    QLineEdit* m_editFeedFile;
    QCheckBox* m_chkEBook;
    QWidget* m_editionControls;
    QCheckBox* m_chkOnlyNew;
    QSpinBox* m_spinMaxArticles;
    QSpinBox* m_spinMaxAgeDays;
    QSpinBox* m_spinKeep;
    QPushButton* m_btnForget;
    QCheckBox* m_chkGrey;
    QButtonGroup* m_grpInterval;
};
