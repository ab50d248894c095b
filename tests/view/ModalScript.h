#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

// Answers the modal dialogs and popup menus that the code under test opens, in
// order, each with the next step of the script. A window that opens when no step
// is left, or that a step left open for seconds, is closed and recorded, so a
// test never waits for a person.
class ModalScript {
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript();
    ~ModalScript();

    ModalScript& then(Step step);
    // True when every step ran and nothing unexpected opened.
    bool finished() const { return m_steps.empty() && m_unexpected.isEmpty(); }
    QString report() const;

private:
    void poll();

    QTimer m_timer;
    std::deque<Step> m_steps;
    QPointer<QWidget> m_handled;
    QElapsedTimer m_handledSince;
    QStringList m_unexpected;
};

// Steps for the common cases.
namespace steps {

struct Message {
    QString caption;
    QString text;
    bool warningIcon = false;
    bool okIsDefault = false;
};

// Records a message box and closes it with Return on its default button.
ModalScript::Step acceptMessage(Message* seen);
// Presses Return (the default button) or Escape in a dialog.
ModalScript::Step pressReturn();
ModalScript::Step pressEscape();
// Types a path into a file dialog's file name field and presses Return.
ModalScript::Step typeFileName(const QString& path);

} // namespace steps
