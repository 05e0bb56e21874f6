#pragma once
// The window tests' helper: a watcher that answers modal boxes the way an
// operator would.

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <functional>

// Answers every modal dialog that appears: message boxes are recorded and
// closed with their only button; other dialogs are passed to `handler`.
class ModalWatcher : public QObject {
    Q_OBJECT
public:
    explicit ModalWatcher(std::function<void(QDialog *)> handler = {});
    QStringList boxes; // "title|text" of each message box seen
    QMessageBox::StandardButton answer = QMessageBox::Ok; // pressed where a box has it
    QStringList icons; // icon of each, as a number

private:
    void poll();
    QTimer m_timer;
    std::function<void(QDialog *)> m_handler;
};
