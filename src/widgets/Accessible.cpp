// Names for assistive technology.
#include "widgets/Accessible.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QWidget>

namespace {

// Qt names a list box by the item it shows on Unix, where a caption is meant
// to reach the screen reader as a label; these boxes' captions are no
// labels, so the box is named by the name it was given. The rest is what
// Qt's own interface tells: its list and its line, opened by a press.
class NamedListBox : public QAccessibleWidget {
public:
    explicit NamedListBox(QWidget *w) : QAccessibleWidget(w, QAccessible::ComboBox) {}
    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return box()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return box()->lineEdit() ? 2 : 1; }
    QAccessibleInterface *child(int index) const override
    {
        QObject *child = index == 0 ? static_cast<QObject *>(box()->view())
                       : index == 1 ? static_cast<QObject *>(box()->lineEdit())
                                    : nullptr;
        return child ? QAccessible::queryAccessibleInterface(child) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        if (child->object() == box()->view())
            return 0;
        return child->object() && child->object() == box()->lineEdit() ? 1 : -1;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        s.editable = box()->isEditable();
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }
};

QAccessibleInterface *namedListBox(const QString &className, QObject *object)
{
    if (className == QLatin1String("QComboBox") && object && object->isWidgetType())
        return new NamedListBox(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

namespace Ui {

QString plainCaption(const QString &caption)
{
    static const QRegularExpression accelerator(QStringLiteral("&(.)"));
    static const QRegularExpression colon(QStringLiteral("\\s*[:：]\\s*$"));
    return QString(caption).replace(accelerator, QStringLiteral("\\1")).remove(colon).trimmed();
}

void nameAfter(QWidget *control, const QString &caption)
{
    // Qt's own factories come first until this one is installed, after them.
    static const bool installed = [] {
        QAccessible::installFactory(namedListBox);
        return true;
    }();
    Q_UNUSED(installed)
    const QString name = plainCaption(caption);
    control->setAccessibleName(name);
    QLineEdit *line = nullptr;
    if (auto *box = qobject_cast<QComboBox *>(control)) {
        line = box->lineEdit();
        // An interface Qt made for it before (its events make one, listened
        // to or not) is the object's until dropped.
        QAccessibleInterface *made = QAccessible::queryAccessibleInterface(box);
        if (made && !dynamic_cast<NamedListBox *>(made))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
    else if (qobject_cast<QAbstractSpinBox *>(control))
        line = control->findChild<QLineEdit *>();
    if (line)
        line->setAccessibleName(name);
}

void setNames(std::initializer_list<std::pair<QWidget *, const char *>> widgets)
{
    for (const auto &[w, name] : widgets)
        w->setObjectName(QLatin1String(name));
}

void tabInOrder(const QList<QWidget *> &widgets)
{
    for (int i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets.at(i - 1), widgets.at(i));
}

QString plainTip(const QString &text)
{
    return text.isEmpty() ? text
                          : QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text.toHtmlEscaped());
}

} // namespace Ui
