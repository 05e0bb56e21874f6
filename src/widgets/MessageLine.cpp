// The message line, and what assistive technology is told of it.
#include "widgets/MessageLine.h"

#include "core/AppState.h"
#include "widgets/Accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class MessageLineAccessible : public QAccessibleWidget {
public:
    explicit MessageLineAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::StatusBar) {}

    QString text(QAccessible::Text t) const override
    {
        const auto *line = static_cast<const QLineEdit *>(widget());
        if (t == QAccessible::Name)
            return line->text().isEmpty() ? line->accessibleName() : line->text();
        if (t == QAccessible::Value)
            return line->text();
        if (t == QAccessible::Description) // not the tooltip, which is markup
            return line->accessibleName();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
};

QAccessibleInterface *messageLineInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("MessageLine") && object && object->isWidgetType())
        return new MessageLineAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

MessageLine::MessageLine(QWidget *parent) : QLineEdit(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(messageLineInterface);
        return true;
    }();
    Q_UNUSED(installed)
    setObjectName(QStringLiteral("TextMess"));
    setReadOnly(true);
    setAccessibleName(app().dispName(Ui::MessagesCaption));
    connect(this, &QLineEdit::textChanged, this, &MessageLine::changed);
}

void MessageLine::say(const QString &text)
{
    const bool same = text == this->text();
    setToolTip(QString());
    setText(text);
    setCursorPosition(0);
    if (same)
        changed(text);
}

void MessageLine::changed(const QString &text)
{
    setToolTip(Ui::plainTip(text));
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
