#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

// A modal dialog that carries text in and out of its controls: the members are
// copied into the controls when it opens and back only when it closes with OK.
class PellavoDialog : public QDialog {
    Q_OBJECT
public:
    // Results of DoModal.
    enum Result { IDOK = 1, IDCANCEL = 2 };

    explicit PellavoDialog(QWidget* parent);

    // Shows the dialog; 1 for OK or Yes, 2 for Cancel, Escape or the close box.
    int DoModal();

protected:
    // Moves the members into the controls, or with `save` back out of them.
    virtual void DoDataExchange(bool save);
};

// Edits a feed: title, feed address, web page and description, and whether the e-book
// carries its articles whole, fetched from the web.
class CChannelProp : public PellavoDialog {
    Q_OBJECT
public:
    explicit CChannelProp(QWidget* parent = nullptr);

    QString m_strTitle;
    QString m_strXmlUrl = QStringLiteral("http://");
    QString m_strHtmlUrl = QStringLiteral("http://");
    QString m_strDescription;
    bool m_bWholeArticles = false;

protected:
    void DoDataExchange(bool save) override;

private:
    QLineEdit* m_editTitle;
    QLineEdit* m_editXmlUrl;
    QLineEdit* m_editHtmlUrl;
    QLineEdit* m_editDescription;
    QCheckBox* m_checkWholeArticles;
};

// Edits a group: title and description.
class CDlgGroupProp : public PellavoDialog {
    Q_OBJECT
public:
    explicit CDlgGroupProp(QWidget* parent = nullptr);

    QString m_strTitle = QStringLiteral("Group");
    QString m_strDescription;

protected:
    void DoDataExchange(bool save) override;

private:
    QLineEdit* m_editTitle;
    QLineEdit* m_editDescription;
};

// Asks before the selected item or group is deleted.
class CDlgDeleteConfirm : public PellavoDialog {
    Q_OBJECT
public:
    explicit CDlgDeleteConfirm(QWidget* parent = nullptr);
};

// Asks before an import replaces every subscription.
class CDlgImportConfirm : public PellavoDialog {
    Q_OBJECT
public:
    explicit CDlgImportConfirm(QWidget* parent = nullptr);
};
