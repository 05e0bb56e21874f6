#include "shell/FocusValidator.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

FocusValidator::FocusValidator(QWidget *field, Check check, Clear clear)
    : QObject(field), m_field(field), m_check(std::move(check)), m_clear(std::move(clear))
{
    qApp->installEventFilter(this);
}

FocusValidator::~FocusValidator()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool FocusValidator::isInField(const QObject *o) const
{
    for (; o; o = o->parent())
        if (o == m_field)
            return true;
    return false;
}

bool FocusValidator::fieldHasFocus() const
{
    if (!m_field)
        return false;
    const QWidget *focus = m_field->window()->focusWidget();
    return focus && isInField(focus);
}

bool FocusValidator::validate()
{
    if (!m_field || m_running)
        return true;
    m_running = true;
    const bool ok = m_check();
    if (!ok) {
        m_clear();
        m_field->setFocus(Qt::OtherFocusReason);
    }
    m_running = false;
    return ok;
}

bool FocusValidator::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_field || !watched->isWidgetType())
        return false;
    auto *target = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A click on another control of the field's window, while the field
        // holds the focus, is where the focus would leave it.
        if (target->window() == m_field->window() && !isInField(target) && fieldHasFocus()
            && target->focusPolicy() != Qt::NoFocus && target->isEnabled())
            return !validate();
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && isInField(target))
            return !validate();
        break;
    }
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        // Switching windows or opening a popup is no leaving of the field.
        if (target == m_field && reason != Qt::ActiveWindowFocusReason
            && reason != Qt::PopupFocusReason && reason != Qt::MouseFocusReason
            && reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason) {
            QWidget *next = QApplication::focusWidget();
            if (next && next->window() == m_field->window() && !isInField(next))
                QTimer::singleShot(0, this, [this] { validate(); });
        }
        break;
    }
    default:
        break;
    }
    return false;
}
