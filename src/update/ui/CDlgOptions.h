#pragma once

#include <QDialog>
#include <QString>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QTimeEdit;

// "Options": where the news feed file goes and when the automatic update runs. The caller
// sets the members before showing the dialog and reads them after OK.
class CDlgOptions : public QDialog {
    Q_OBJECT
public:
    explicit CDlgOptions(QWidget* parent = nullptr);

    void accept() override;

    QString m_strFeedFile;
    bool m_bEBook = false;
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
    void TransferToControls();

    QLineEdit* m_editFeedFile;
    QCheckBox* m_chkEBook;
    QCheckBox* m_chkGrey;
    QButtonGroup* m_grpInterval;
};
