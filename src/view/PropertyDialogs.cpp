#include "view/PropertyDialogs.h"

#include "view/Artwork.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLabel* MakePicture(const QString& resource, QWidget* parent) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setPixmap(LoadArtwork(resource, parent));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    return picture;
}

QFrame* MakeSunkenLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLineEdit* MakeEdit(int controlId, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(controlId));
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 36);
    return edit;
}

// The button row at the bottom right: the first button is the default one and
// closes with 1, the second closes with 2.
QBoxLayout* MakeButtons(PellavoDialog* dialog, const QString& first, const QString& second) {
    auto* accept = new QPushButton(first, dialog);
    accept->setObjectName(QStringLiteral("button1"));
    accept->setDefault(true);
    auto* cancel = new QPushButton(second, dialog);
    cancel->setObjectName(QStringLiteral("button2"));
    QObject::connect(accept, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(accept);
    row->addWidget(cancel);
    return row;
}

} // namespace

PellavoDialog::PellavoDialog(QWidget* parent) : QDialog(parent) {
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

int PellavoDialog::DoModal() {
    DoDataExchange(false);
    if (exec() != QDialog::Accepted)
        return IDCANCEL;
    DoDataExchange(true);
    return IDOK;
}

void PellavoDialog::DoDataExchange(bool) {}

CChannelProp::CChannelProp(QWidget* parent) : PellavoDialog(parent) {
    setWindowTitle(QStringLiteral("Channel Properties"));
    m_editTitle = MakeEdit(1001, this);
    m_editXmlUrl = MakeEdit(1002, this);
    m_editHtmlUrl = MakeEdit(1003, this);
    m_editDescription = MakeEdit(1004, this);

    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fields->addRow(QStringLiteral("Title"), m_editTitle);
    fields->addRow(QStringLiteral("XML URL"), m_editXmlUrl);
    fields->addRow(QStringLiteral("HTML URL"), m_editHtmlUrl);
    fields->addRow(QStringLiteral("Description"), m_editDescription);
    // Beneath the feed's own fields, lined up with them.
    m_checkWholeArticles =
        new QCheckBox(QStringLiteral("Fetch &whole articles from the web for the e-book"), this);
    m_checkWholeArticles->setObjectName(QStringLiteral("checkWholeArticles"));
    fields->addRow(QString(), m_checkWholeArticles);

    auto* right = new QVBoxLayout;
    right->addLayout(fields);
    right->addWidget(MakeSunkenLine(this));
    right->addStretch(1);
    right->addLayout(MakeButtons(this, QStringLiteral("OK"), QStringLiteral("Cancel")));

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(MakePicture(QStringLiteral(":/images/dlg_feed.png"), this));
    layout->addLayout(right, 1);
    m_editTitle->setFocus();
}

void CChannelProp::DoDataExchange(bool save) {
    if (save) {
        m_strTitle = m_editTitle->text();
        m_strXmlUrl = m_editXmlUrl->text();
        m_strHtmlUrl = m_editHtmlUrl->text();
        m_strDescription = m_editDescription->text();
        m_bWholeArticles = m_checkWholeArticles->isChecked();
    } else {
        m_editTitle->setText(m_strTitle);
        m_editXmlUrl->setText(m_strXmlUrl);
        m_editHtmlUrl->setText(m_strHtmlUrl);
        m_editDescription->setText(m_strDescription);
        m_checkWholeArticles->setChecked(m_bWholeArticles);
    }
}

CDlgGroupProp::CDlgGroupProp(QWidget* parent) : PellavoDialog(parent) {
    setWindowTitle(QStringLiteral("Group Properties"));
    m_editTitle = MakeEdit(1004, this);
    m_editDescription = MakeEdit(1003, this);

    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fields->addRow(QStringLiteral("Title"), m_editTitle);
    fields->addRow(QStringLiteral("Description"), m_editDescription);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakePicture(QStringLiteral(":/images/dlg_group.png"), this));
    layout->addLayout(fields);
    layout->addWidget(MakeSunkenLine(this));
    layout->addLayout(MakeButtons(this, QStringLiteral("OK"), QStringLiteral("Cancel")));
    m_editTitle->setFocus();
}

void CDlgGroupProp::DoDataExchange(bool save) {
    if (save) {
        m_strTitle = m_editTitle->text();
        m_strDescription = m_editDescription->text();
    } else {
        m_editTitle->setText(m_strTitle);
        m_editDescription->setText(m_strDescription);
    }
}

namespace {

// The two confirmations: a picture on the left, the question, a line, Yes and Cancel.
void BuildConfirmation(PellavoDialog* dialog, const QString& question, const QString& picture) {
    dialog->setWindowTitle(QStringLiteral("Warning"));
    auto* text = new QLabel(question, dialog);
    text->setObjectName(QStringLiteral("question"));
    text->setWordWrap(true);
    text->setMinimumWidth(text->fontMetrics().averageCharWidth() * 40);

    auto* right = new QVBoxLayout;
    right->addWidget(text);
    right->addStretch(1);
    right->addWidget(MakeSunkenLine(dialog));
    right->addLayout(MakeButtons(dialog, QStringLiteral("Yes"), QStringLiteral("Cancel")));

    auto* layout = new QHBoxLayout(dialog);
    layout->addWidget(MakePicture(picture, dialog));
    layout->addLayout(right, 1);
}

} // namespace

CDlgDeleteConfirm::CDlgDeleteConfirm(QWidget* parent) : PellavoDialog(parent) {
    BuildConfirmation(this, QStringLiteral("The selected item or group will be deleted, continue?"),
                      QStringLiteral(":/images/dlg_delete.png"));
}

CDlgImportConfirm::CDlgImportConfirm(QWidget* parent) : PellavoDialog(parent) {
    BuildConfirmation(
        this, QStringLiteral("All current channel data will be overwritten by imported ones, continue?"),
        QStringLiteral(":/images/dlg_import.png"));
}
