#include "support/GuiSupport.h"

#include <QApplication>
#include <QPushButton>

ModalWatcher::ModalWatcher(std::function<void(QDialog *)> handler) : m_handler(std::move(handler))
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(10);
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        boxes << box->windowTitle() + QLatin1Char('|') + box->text();
        icons << QString::number(int(box->icon()));
        box->button(answer) ? box->button(answer)->click() : box->reject();
        return;
    }
    auto *dialog = qobject_cast<QDialog *>(modal);
    if (dialog && m_handler && !dialog->property("watcherSeen").toBool()) {
        dialog->setProperty("watcherSeen", true);
        m_handler(dialog);
    }
}
