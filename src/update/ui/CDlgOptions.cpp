#include "update/ui/CDlgOptions.h"

#include "shell/WarningBox.h"

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
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
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
    browse->setAccessibleName(QStringLiteral("Browse..."));
    browse->setAutoDefault(false);
    browse->setMaximumWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    m_chkEBook =
        new QCheckBox(QStringLiteral("Also make an &e-book for the phone's reader (EPUB)"), outputBox);
    m_chkEBook->setObjectName(QStringLiteral("ebook"));

    // How the book is made and what each edition brings sit under the box that makes the
    // e-book, indented, and are greyed while it is clear.
    m_editionControls = new QWidget(outputBox);
    m_editionControls->setObjectName(QStringLiteral("editions"));
    // Unnamed, it would take the box's title.
    m_editionControls->setAccessibleName(QStringLiteral("E-book"));
    m_chkGrey = new QCheckBox(QStringLiteral("Pictures in shades of &grey (smaller books for e-ink readers)"),
                              m_editionControls);
    m_chkGrey->setObjectName(QStringLiteral("grey"));
    m_chkOnlyNew = new QCheckBox(QStringLiteral("Only articles &not in an earlier book"), m_editionControls);
    m_chkOnlyNew->setObjectName(QStringLiteral("onlyNew"));
    const auto spinBox = [&](const char* name, int maximum) {
        auto* spin = new QSpinBox(m_editionControls);
        spin->setObjectName(QLatin1String(name));
        spin->setRange(0, maximum);
        spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return spin;
    };
    m_spinMaxArticles = spinBox("maxArticles", 9999);
    m_spinMaxArticles->setSpecialValueText(QStringLiteral("no limit"));
    m_spinMaxAgeDays = spinBox("maxAgeDays", 3650);
    m_spinMaxAgeDays->setSpecialValueText(QStringLiteral("no limit"));
    m_spinKeep = spinBox("keep", 9999);
    m_spinKeep->setSpecialValueText(QStringLiteral("all"));
    m_btnForget = new QPushButton(QStringLiteral("&Forget Delivered Articles..."), m_editionControls);
    m_btnForget->setObjectName(QStringLiteral("forget"));
    m_btnForget->setAutoDefault(false);
    connect(m_btnForget, &QPushButton::clicked, this, &CDlgOptions::OnForget);
    auto* editionLayout = new QGridLayout(m_editionControls);
    editionLayout->setContentsMargins(20, 0, 0, 0);
    editionLayout->addWidget(m_chkGrey, 0, 0, 1, 3);
    editionLayout->addWidget(m_chkOnlyNew, 1, 0, 1, 3);
    // A sentence around each spin box; the label before it carries the mnemonic.
    const auto addLine = [&](int row, const QString& before, QSpinBox* spin, const QString& after) {
        auto* label = new QLabel(before, m_editionControls);
        label->setBuddy(spin);
        editionLayout->addWidget(label, row, 0);
        editionLayout->addWidget(spin, row, 1);
        editionLayout->addWidget(new QLabel(after, m_editionControls), row, 2);
        // The label names the box; the unit after it is read as its description.
        spin->setAccessibleDescription(after);
    };
    addLine(2, QStringLiteral("At &most"), m_spinMaxArticles, QStringLiteral("articles per feed"));
    addLine(3, QStringLiteral("Leave out articles o&lder than"), m_spinMaxAgeDays, QStringLiteral("days"));
    addLine(4, QStringLiteral("&Keep the last"), m_spinKeep, QStringLiteral("books"));
    editionLayout->addWidget(m_btnForget, 5, 0, 1, 3, Qt::AlignLeft);
    editionLayout->setColumnStretch(2, 1);
    connect(m_chkEBook, &QCheckBox::toggled, m_editionControls, &QWidget::setEnabled);

    auto* outputLayout = new QGridLayout(outputBox);
    outputLayout->addWidget(m_editFeedFile, 0, 0);
    outputLayout->addWidget(browse, 0, 1);
    outputLayout->addWidget(m_chkEBook, 1, 0, 1, 2);
    outputLayout->addWidget(m_editionControls, 2, 0, 1, 2);
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
    m_ctlTime->setAccessibleName(QStringLiteral("Time of the daily update"));
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
    m_editionControls->setEnabled(m_bEBook);
    m_chkOnlyNew->setChecked(m_bOnlyNew);
    m_spinMaxArticles->setValue(m_nMaxArticles);
    m_spinMaxAgeDays->setValue(m_nMaxAgeDays);
    m_spinKeep->setValue(m_nKeep);
    m_btnForget->setEnabled(bool(m_forgetArticles));
    m_chkGrey->setChecked(m_bGreyPictures);
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

void CDlgOptions::OnForget() {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                    QStringLiteral("Forget every article the e-books have carried? The next e-book then "
                                   "brings again everything the limits allow."),
                    QMessageBox::Yes | QMessageBox::No, this);
    // Forgetting cannot be undone: Return keeps the history.
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    QString error;
    if (!m_forgetArticles(&error))
        ShowWarningBox(QStringLiteral("Error"),
                       QStringLiteral("Failed to forget the delivered articles: %1").arg(error), this);
}

void CDlgOptions::accept() {
    m_strFeedFile = QDir::fromNativeSeparators(m_editFeedFile->text());
    m_bEBook = m_chkEBook->isChecked();
    m_bOnlyNew = m_chkOnlyNew->isChecked();
    m_nMaxArticles = m_spinMaxArticles->value();
    m_nMaxAgeDays = m_spinMaxAgeDays->value();
    m_nKeep = m_spinKeep->value();
    m_bGreyPictures = m_chkGrey->isChecked();
    m_nIntervalChoice = m_grpInterval->checkedId();
    const QTime time = m_ctlTime->time();
    m_nHour = time.isValid() ? time.hour() : -1;
    m_nMinute = time.isValid() ? time.minute() : -1;
    QDialog::accept();
}
