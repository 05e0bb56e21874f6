// Focus validation with cancel for the windows' checked fields.
#include "widgets/FocusValidator.h"

#include <QApplication>
#include <QFocusEvent>
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

bool FocusValidator::isExempt(const QObject *o) const
{
    for (; o; o = o->parent())
        for (const QPointer<QWidget> &w : m_exempt)
            if (w == o)
                return true;
    return false;
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
    case QEvent::FocusOut: {
        // The focus moves before the click that moved it is delivered, so
        // the check runs here and, failing, takes the focus back and marks
        // the click to be swallowed.
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        if (!isInField(target) || reason == Qt::ActiveWindowFocusReason
            || reason == Qt::PopupFocusReason)
            break;
        const QWidget *next = QApplication::focusWidget();
        if (!next || next->window() != m_field->window() || isInField(next) || isExempt(next))
            break;
        if (!validate() && reason == Qt::MouseFocusReason) {
            m_swallowClick = true;
            QTimer::singleShot(0, this, [this] { m_swallowClick = false; });
        }
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
        if (m_swallowClick && !isInField(target) && target->window() == m_field->window()) {
            if (event->type() == QEvent::MouseButtonRelease)
                m_swallowClick = false;
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}
