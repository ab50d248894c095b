#pragma once

#include "base/Settings.h"
#include "delivery/Outbox.h"
#include "desktop/KdeConnect.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

// "Delivery": where each new e-book edition goes by itself (mail, a synced folder, a KDE
// Connect device), when, and the last deliveries with their results. The caller sets the
// members before showing the dialog and reads them after OK; the password goes to the secret
// store, never to the settings.
class CDlgDelivery : public QDialog {
    Q_OBJECT
public:
    explicit CDlgDelivery(QWidget* parent = nullptr);

    // Fills the controls from the members; the caller calls it once they are set.
    void TransferToControls();
    void accept() override;

    Settings::Delivery m_delivery;
    QString m_strPassword;
    // Whether the desktop's secret store answers; without one no password can be set up.
    bool m_bSecretStore = true;
    QString m_strSecretStoreReason;
    QList<KdeConnect::Device> m_lstDevices;
    QList<Outbox::Entry> m_lstRecent;
    // Sends a test mail with the settings and password given; empty on success, else why not.
    // Called on a thread of its own.
    std::function<QString(const Settings::Delivery&, const QString& password)> m_sendTestMail;

    static QString TargetText(const QString& target, const QList<KdeConnect::Device>& devices);

private:
    void TransferFromControls();
    void OnSecurityChanged();
    void OnBrowse();
    void OnBrowseCaFile();
    void OnTestMail();

    QLineEdit* m_editMailTo;
    QLineEdit* m_editMailFrom;
    QLineEdit* m_editHost;
    QSpinBox* m_spinPort;
    QComboBox* m_cmbSecurity;
    QLineEdit* m_editCaFile;
    QLineEdit* m_editUser;
    QLineEdit* m_editPassword;
    QLabel* m_lblSecretStore;
    QPushButton* m_btnTestMail;
    QLineEdit* m_editFolder;
    QComboBox* m_cmbDevice;
    QComboBox* m_cmbAfter;
    QTreeWidget* m_ctlRecent;
};
