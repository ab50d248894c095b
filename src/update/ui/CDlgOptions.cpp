#include "update/ui/CDlgOptions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

CDlgOptions::CDlgOptions(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Options"));

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/dlg_options.png")));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* outputBox = new QGroupBox(QStringLiteral("Output File"), this);
    m_editFeedFile = new QLineEdit(outputBox);
    m_editFeedFile->setObjectName(QStringLiteral("feedFile"));
    m_editFeedFile->setMinimumWidth(300);
    auto* browse = new QPushButton(QStringLiteral("..."), outputBox);
    browse->setObjectName(QStringLiteral("browse"));
    browse->setAutoDefault(false);
    browse->setMaximumWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    m_chkEBook =
        new QCheckBox(QStringLiteral("Also make an e-book for the phone's reader (EPUB)"), outputBox);
    m_chkEBook->setObjectName(QStringLiteral("ebook"));
    m_chkGrey = new QCheckBox(QStringLiteral("Pictures in shades of &grey (smaller books for e-ink readers)"),
                              outputBox);
    m_chkGrey->setObjectName(QStringLiteral("grey"));
    // It says how the book is made: without a book it has nothing to say.
    connect(m_chkEBook, &QCheckBox::toggled, m_chkGrey, &QWidget::setEnabled);
    auto* outputLayout = new QGridLayout(outputBox);
    outputLayout->addWidget(m_editFeedFile, 0, 0);
    outputLayout->addWidget(browse, 0, 1);
    outputLayout->addWidget(m_chkEBook, 1, 0, 1, 2);
    auto* greyRow = new QHBoxLayout;
    greyRow->addSpacing(m_chkEBook->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                        m_chkEBook->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));
    greyRow->addWidget(m_chkGrey, 1);
    outputLayout->addLayout(greyRow, 2, 0, 1, 2);
    outputLayout->setColumnStretch(0, 1);
    connect(browse, &QPushButton::clicked, this, &CDlgOptions::OnBrowse);

    auto* intervalBox = new QGroupBox(QStringLiteral("Auto Update Interval"), this);
    m_grpInterval = new QButtonGroup(this);
    auto* intervalLayout = new QGridLayout(intervalBox);
    const QString texts[] = {QStringLiteral("1 Hour"), QStringLiteral("2 Hours"), QStringLiteral("4 Hours"),
                             QStringLiteral("8 Hours"), QStringLiteral("Daily")};
    for (int choice = 0; choice <= DailyChoice; ++choice) {
        auto* radio = new QRadioButton(texts[choice], intervalBox);
        radio->setObjectName(QStringLiteral("interval%1").arg(choice));
        m_grpInterval->addButton(radio, choice);
        if (choice < DailyChoice)
            intervalLayout->addWidget(radio, 0, choice);
        else
            intervalLayout->addWidget(radio, 1, 0);
    }
    m_ctlTime = new QTimeEdit(intervalBox);
    m_ctlTime->setObjectName(QStringLiteral("time"));
    m_ctlTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_ctlTime->setDisplayFormat(QLocale().timeFormat(QLocale::ShortFormat));
    intervalLayout->addWidget(m_ctlTime, 1, 1, 1, 2);
    connect(m_grpInterval, &QButtonGroup::idClicked, this,
            [this](int choice) { m_ctlTime->setEnabled(choice == DailyChoice); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgOptions::reject);

    auto* fields = new QVBoxLayout;
    fields->addWidget(outputBox);
    fields->addWidget(intervalBox);
    fields->addStretch(1);
    fields->addWidget(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(picture);
    layout->addLayout(fields, 1);
}

void CDlgOptions::showEvent(QShowEvent* event) {
    // The desktop's own show events (a restore from minimised) must keep what the user typed.
    if (!event->spontaneous())
        TransferToControls();
    QDialog::showEvent(event);
}

void CDlgOptions::TransferToControls() {
    m_editFeedFile->setText(QDir::toNativeSeparators(m_strFeedFile));
    m_chkEBook->setChecked(m_bEBook);
    m_chkGrey->setChecked(m_bGreyPictures);
    m_chkGrey->setEnabled(m_bEBook);
    if (QAbstractButton* radio = m_grpInterval->button(std::clamp(m_nIntervalChoice, 0, int(DailyChoice))))
        radio->setChecked(true);
    // The picker cannot show a stored time out of range; it shows the nearest it can.
    m_ctlTime->setTime(QTime(std::clamp(m_nHour, 0, 23), std::clamp(m_nMinute, 0, 59)));
    m_ctlTime->setEnabled(m_nIntervalChoice == DailyChoice);
}

void CDlgOptions::OnBrowse() {
    // The file is only chosen here, not written, so it need not exist and is not "replaced".
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("News Feed File (*.nff)"));
    dialog.setDefaultSuffix(QStringLiteral("nff"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QFileInfo current(QDir::fromNativeSeparators(m_editFeedFile->text()));
    if (!m_editFeedFile->text().isEmpty() && current.absoluteDir().exists())
        dialog.setDirectory(current.absoluteDir());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // Only the path changes: a radio choice made before browsing stays as it is.
    m_strFeedFile = dialog.selectedFiles().first();
    m_editFeedFile->setText(QDir::toNativeSeparators(m_strFeedFile));
}

void CDlgOptions::accept() {
    m_strFeedFile = QDir::fromNativeSeparators(m_editFeedFile->text());
    m_bEBook = m_chkEBook->isChecked();
    m_bGreyPictures = m_chkGrey->isChecked();
    m_nIntervalChoice = m_grpInterval->checkedId();
    const QTime time = m_ctlTime->time();
    m_nHour = time.isValid() ? time.hour() : -1;
    m_nMinute = time.isValid() ? time.minute() : -1;
    QDialog::accept();
}
