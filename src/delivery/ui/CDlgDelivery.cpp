#include "delivery/ui/CDlgDelivery.h"

#include "delivery/Deliverer.h"
#include "delivery/SmtpMail.h"
#include "shell/WarningBox.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>
#include <thread>

namespace {

// The choices of "Deliver each new edition", in the order shown, by their "After" value.
const int kAfterValues[] = {1, 2, 0};

QLabel* Buddy(const QString& text, QWidget* field, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    return label;
}

QString ResultText(const Outbox::Entry& entry) {
    switch (entry.state) {
    case Outbox::State::Delivered:
        return QStringLiteral("Delivered");
    case Outbox::State::Attempting:
        return QStringLiteral("Being delivered");
    case Outbox::State::Waiting:
        return entry.reason.isEmpty() ? QStringLiteral("Waiting")
                                      : QStringLiteral("Waiting: ") + entry.reason;
    case Outbox::State::Failed:
    case Outbox::State::Expired:
        break;
    }
    return QStringLiteral("Failed: ") + entry.reason;
}

} // namespace

CDlgDelivery::CDlgDelivery(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Delivery"));

    auto* mailBox = new QGroupBox(QStringLiteral("Mail"), this);
    m_editMailTo = new QLineEdit(mailBox);
    m_editMailTo->setObjectName(QStringLiteral("mailTo"));
    m_editMailTo->setPlaceholderText(QStringLiteral("name@kindle.com, me@example.org"));
    auto* kindleNote = new QLabel(
        QStringLiteral("A Kindle accepts mail only from senders approved in the Amazon account."), mailBox);
    kindleNote->setEnabled(false);
    m_editMailFrom = new QLineEdit(mailBox);
    m_editMailFrom->setObjectName(QStringLiteral("mailFrom"));
    m_editHost = new QLineEdit(mailBox);
    m_editHost->setObjectName(QStringLiteral("smtpHost"));
    m_spinPort = new QSpinBox(mailBox);
    m_spinPort->setObjectName(QStringLiteral("smtpPort"));
    m_spinPort->setRange(1, 65535);
    m_cmbSecurity = new QComboBox(mailBox);
    m_cmbSecurity->setObjectName(QStringLiteral("smtpSecurity"));
    m_cmbSecurity->addItem(QStringLiteral("STARTTLS"), SmtpSecurityName(SmtpSecurity::StartTls));
    m_cmbSecurity->addItem(QStringLiteral("TLS"), SmtpSecurityName(SmtpSecurity::Tls));
    m_cmbSecurity->addItem(QStringLiteral("None"), SmtpSecurityName(SmtpSecurity::None));
    connect(m_cmbSecurity, &QComboBox::activated, this, &CDlgDelivery::OnSecurityChanged);
    m_editCaFile = new QLineEdit(mailBox);
    m_editCaFile->setObjectName(QStringLiteral("smtpCaFile"));
    m_editCaFile->setPlaceholderText(QStringLiteral("The system's; a PEM file for a server of your own"));
    auto* browseCaFile = new QPushButton(QStringLiteral("B&rowse..."), mailBox);
    browseCaFile->setObjectName(QStringLiteral("browseCaFile"));
    browseCaFile->setAutoDefault(false);
    connect(browseCaFile, &QPushButton::clicked, this, &CDlgDelivery::OnBrowseCaFile);
    m_editUser = new QLineEdit(mailBox);
    m_editUser->setObjectName(QStringLiteral("smtpUser"));
    m_editPassword = new QLineEdit(mailBox);
    m_editPassword->setObjectName(QStringLiteral("password"));
    m_editPassword->setEchoMode(QLineEdit::Password);
    m_lblSecretStore = new QLabel(mailBox);
    m_lblSecretStore->setWordWrap(true);
    m_lblSecretStore->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblSecretStore->hide();
    m_btnTestMail = new QPushButton(QStringLiteral("Send &Test Mail"), mailBox);
    m_btnTestMail->setObjectName(QStringLiteral("testMail"));
    m_btnTestMail->setAutoDefault(false);
    connect(m_btnTestMail, &QPushButton::clicked, this, &CDlgDelivery::OnTestMail);

    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(m_editHost, 1);
    serverRow->addWidget(Buddy(QStringLiteral("P&ort:"), m_spinPort, mailBox));
    serverRow->addWidget(m_spinPort);
    serverRow->addWidget(Buddy(QStringLiteral("Sec&urity:"), m_cmbSecurity, mailBox));
    serverRow->addWidget(m_cmbSecurity);
    auto* caFileRow = new QHBoxLayout;
    caFileRow->addWidget(m_editCaFile, 1);
    caFileRow->addWidget(browseCaFile);
    auto* mailForm = new QFormLayout(mailBox);
    mailForm->addRow(Buddy(QStringLiteral("&Mail to:"), m_editMailTo, mailBox), m_editMailTo);
    mailForm->addRow(QString(), kindleNote);
    mailForm->addRow(Buddy(QStringLiteral("Se&nder:"), m_editMailFrom, mailBox), m_editMailFrom);
    mailForm->addRow(Buddy(QStringLiteral("Ser&ver:"), m_editHost, mailBox), serverRow);
    mailForm->addRow(Buddy(QStringLiteral("&Certificates:"), m_editCaFile, mailBox), caFileRow);
    mailForm->addRow(Buddy(QStringLiteral("U&ser name:"), m_editUser, mailBox), m_editUser);
    mailForm->addRow(Buddy(QStringLiteral("Pass&word:"), m_editPassword, mailBox), m_editPassword);
    mailForm->addRow(QString(), m_lblSecretStore);
    mailForm->addRow(QString(), m_btnTestMail);

    auto* otherBox = new QGroupBox(QStringLiteral("Folder and Phone"), this);
    m_editFolder = new QLineEdit(otherBox);
    m_editFolder->setObjectName(QStringLiteral("folder"));
    m_editFolder->setPlaceholderText(QStringLiteral("A folder that Syncthing, Nextcloud or Dropbox carries"));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), otherBox);
    browse->setObjectName(QStringLiteral("browse"));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &CDlgDelivery::OnBrowse);
    m_cmbDevice = new QComboBox(otherBox);
    m_cmbDevice->setObjectName(QStringLiteral("device"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_editFolder, 1);
    folderRow->addWidget(browse);
    auto* otherForm = new QFormLayout(otherBox);
    otherForm->addRow(Buddy(QStringLiteral("&Folder:"), m_editFolder, otherBox), folderRow);
    otherForm->addRow(Buddy(QStringLiteral("&KDE Connect:"), m_cmbDevice, otherBox), m_cmbDevice);

    m_cmbAfter = new QComboBox(this);
    m_cmbAfter->setObjectName(QStringLiteral("after"));
    m_cmbAfter->addItems({QStringLiteral("after scheduled runs"), QStringLiteral("after every run"),
                          QStringLiteral("only when I say so")});
    auto* afterRow = new QHBoxLayout;
    afterRow->addWidget(Buddy(QStringLiteral("&Deliver each new edition:"), m_cmbAfter, this));
    afterRow->addWidget(m_cmbAfter);
    afterRow->addStretch(1);

    m_ctlRecent = new QTreeWidget(this);
    m_ctlRecent->setObjectName(QStringLiteral("recent"));
    m_ctlRecent->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Target"), QStringLiteral("Edition"),
                                  QStringLiteral("Result")});
    m_ctlRecent->setRootIsDecorated(false);
    m_ctlRecent->setMinimumHeight(110);
    // A long reason stays whole, reached by scrolling, rather than cut short to fit.
    m_ctlRecent->header()->setStretchLastSection(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgDelivery::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgDelivery::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mailBox);
    layout->addWidget(otherBox);
    layout->addLayout(afterRow);
    layout->addWidget(Buddy(QStringLiteral("&Last deliveries:"), m_ctlRecent, this));
    layout->addWidget(m_ctlRecent, 1);
    layout->addWidget(buttons);
    resize(620, sizeHint().height());
}

QString CDlgDelivery::TargetText(const QString& target, const QList<KdeConnect::Device>& devices) {
    const QString kind = target.section(QLatin1Char(':'), 0, 0);
    const QString what = target.section(QLatin1Char(':'), 1);
    if (kind == QLatin1String("mail"))
        return QStringLiteral("Mail to ") + what;
    if (kind == QLatin1String("folder"))
        return QStringLiteral("Folder ") + QDir::toNativeSeparators(what);
    if (kind == QLatin1String("kdeconnect")) {
        for (const KdeConnect::Device& device : devices) {
            if (device.id == what)
                return QStringLiteral("KDE Connect: ") + device.name;
        }
        return QStringLiteral("KDE Connect: ") + what;
    }
    if (kind == QLatin1String("run"))
        return QStringLiteral("Scheduled update");
    return target;
}

void CDlgDelivery::TransferToControls() {
    m_editMailTo->setText(m_delivery.mailTo);
    m_editMailFrom->setText(m_delivery.mailFrom);
    m_editHost->setText(m_delivery.smtpHost);
    m_spinPort->setValue(m_delivery.smtpPort);
    m_cmbSecurity->setCurrentIndex(std::max(
        0, m_cmbSecurity->findData(SmtpSecurityName(SmtpSecurityFromName(m_delivery.smtpSecurity)))));
    m_editCaFile->setText(QDir::toNativeSeparators(m_delivery.smtpCaFile));
    m_editUser->setText(m_delivery.smtpUser);
    m_editPassword->setText(m_strPassword);
    if (!m_bSecretStore) {
        // Nothing falls back to a file: without a secret store there is no password to set,
        // nor a user name that would need one (one set earlier is kept as it is).
        m_editUser->setEnabled(false);
        m_editPassword->setEnabled(false);
        m_lblSecretStore->setText(
            (m_strSecretStoreReason.isEmpty() ? QStringLiteral("No secret store is running, so a password "
                                                               "cannot be kept")
                                              : m_strSecretStoreReason) +
            QStringLiteral(". Pellavo keeps no password anywhere else: mail can go only through a server "
                           "that takes it without a user name."));
        m_lblSecretStore->show();
    }
    m_editFolder->setText(QDir::toNativeSeparators(m_delivery.folder));

    m_cmbDevice->clear();
    m_cmbDevice->addItem(QStringLiteral("(none)"), QString());
    for (const KdeConnect::Device& device : std::as_const(m_lstDevices))
        m_cmbDevice->addItem(device.reachable ? device.name : device.name + QStringLiteral(" (not in reach)"),
                             device.id);
    if (!m_delivery.kdeConnectDevice.isEmpty() && m_cmbDevice->findData(m_delivery.kdeConnectDevice) < 0)
        m_cmbDevice->addItem(m_delivery.kdeConnectDevice + QStringLiteral(" (not paired now)"),
                             m_delivery.kdeConnectDevice);
    m_cmbDevice->setCurrentIndex(std::max(0, m_cmbDevice->findData(m_delivery.kdeConnectDevice)));

    const int* after = std::find(std::begin(kAfterValues), std::end(kAfterValues), m_delivery.after);
    m_cmbAfter->setCurrentIndex(after == std::end(kAfterValues) ? 0 : int(after - std::begin(kAfterValues)));

    m_ctlRecent->clear();
    const QLocale locale;
    for (const Outbox::Entry& entry : std::as_const(m_lstRecent)) {
        auto* row =
            new QTreeWidgetItem(m_ctlRecent, {locale.toString(entry.updated, QLocale::ShortFormat),
                                              TargetText(entry.target, m_lstDevices),
                                              QFileInfo(entry.edition).fileName(), ResultText(entry)});
        row->setToolTip(3, row->text(3));
    }
    m_ctlRecent->header()->resizeSections(QHeaderView::ResizeToContents);
}

void CDlgDelivery::TransferFromControls() {
    m_delivery.mailTo = m_editMailTo->text().trimmed();
    m_delivery.mailFrom = m_editMailFrom->text().trimmed();
    m_delivery.smtpHost = m_editHost->text().trimmed();
    m_delivery.smtpPort = m_spinPort->value();
    m_delivery.smtpSecurity = m_cmbSecurity->currentData().toString();
    m_delivery.smtpCaFile = QDir::fromNativeSeparators(m_editCaFile->text().trimmed());
    m_delivery.smtpUser = m_editUser->text().trimmed();
    m_strPassword = m_editPassword->text();
    m_delivery.folder = QDir::fromNativeSeparators(m_editFolder->text().trimmed());
    m_delivery.kdeConnectDevice = m_cmbDevice->currentData().toString();
    m_delivery.after = kAfterValues[std::max(0, m_cmbAfter->currentIndex())];
}

void CDlgDelivery::OnSecurityChanged() {
    // The usual port of each kind, unless the user chose another one.
    const int ports[] = {587, 465, 25};
    const int current = m_spinPort->value();
    if (current == 587 || current == 465 || current == 25)
        m_spinPort->setValue(ports[std::max(0, m_cmbSecurity->currentIndex())]);
}

void CDlgDelivery::OnBrowse() {
    QFileDialog dialog(this, QStringLiteral("Delivery Folder"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    const QString current = QDir::fromNativeSeparators(m_editFolder->text().trimmed());
    if (!current.isEmpty() && QDir(current).exists())
        dialog.setDirectory(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_editFolder->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

void CDlgDelivery::OnBrowseCaFile() {
    QFileDialog dialog(this, QStringLiteral("Certificates of the Mail Server"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QStringLiteral("Certificates (*.pem *.crt *.cer)"), QStringLiteral("All files (*)")});
    const QString current = QDir::fromNativeSeparators(m_editCaFile->text().trimmed());
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_editCaFile->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

// Returns the reason the settings cannot be kept, or empty.
static QString MailSettingsProblem(const Settings::Delivery& delivery) {
    if (delivery.smtpHost.isEmpty() && delivery.mailTo.isEmpty())
        return QString();
    if (Deliverer::MailAddresses(delivery.mailTo).isEmpty())
        return QStringLiteral("Enter the address to mail the e-book to.");
    if (delivery.smtpHost.isEmpty())
        return QStringLiteral("Enter the mail server.");
    if (delivery.mailFrom.isEmpty())
        return QStringLiteral("Enter the sender address.");
    if (!delivery.smtpCaFile.isEmpty() && !QFileInfo(delivery.smtpCaFile).isReadable())
        return QStringLiteral("The certificate file %1 cannot be read.")
            .arg(QDir::toNativeSeparators(delivery.smtpCaFile));
    MailServer server;
    server.host = delivery.smtpHost;
    server.security = SmtpSecurityFromName(delivery.smtpSecurity);
    return MailServerRefusal(server);
}

void CDlgDelivery::OnTestMail() {
    TransferFromControls();
    const QString problem = MailSettingsProblem(m_delivery);
    if (!problem.isEmpty() || m_delivery.smtpHost.isEmpty()) {
        ShowWarningBox(QStringLiteral("Error"),
                       problem.isEmpty() ? QStringLiteral("Enter the mail server.") : problem, this);
        return;
    }
    if (!m_sendTestMail)
        return;
    m_btnTestMail->setEnabled(false);
    m_btnTestMail->setText(QStringLiteral("Sending..."));
    // The window goes on answering while the server takes its time.
    auto result = std::make_shared<QString>();
    QEventLoop loop;
    std::thread worker([&, result, delivery = m_delivery, password = m_strPassword, send = m_sendTestMail] {
        *result = send(delivery, password);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    m_btnTestMail->setText(QStringLiteral("Send &Test Mail"));
    m_btnTestMail->setEnabled(true);
    // Closed while the server took its time: the user has moved on, no box out of nowhere.
    if (!isVisible())
        return;
    if (result->isEmpty())
        QMessageBox::information(this, QStringLiteral("Delivery"),
                                 QStringLiteral("The test mail went to %1.").arg(m_delivery.mailTo));
    else
        ShowWarningBox(QStringLiteral("Error"), QStringLiteral("The test mail failed: %1").arg(*result),
                       this);
}

void CDlgDelivery::accept() {
    TransferFromControls();
    if (const QString problem = MailSettingsProblem(m_delivery); !problem.isEmpty()) {
        ShowWarningBox(QStringLiteral("Error"), problem, this);
        return;
    }
    QDialog::accept();
}
