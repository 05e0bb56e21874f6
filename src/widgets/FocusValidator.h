#pragma once
// Focus validation with cancel: when the focus leaves a checked field for
// another control of its window (a click, Tab), its check runs. A failing
// check clears the text, takes the focus back and swallows the click, so no
// other control of that window acts until the field holds valid text.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>


class FocusValidator : public QObject {
    Q_OBJECT
public:
    using Check = std::function<bool()>;
    using Clear = std::function<void()>;

    // `check` decides; `clear` empties the field on failure.
    FocusValidator(QWidget *field, Check check, Clear clear);
    ~FocusValidator() override;

    // Runs the check as if the focus were leaving; true when it may.
    bool validate();

    // A control the focus may go to without the check: one whose use puts
    // valid text into the field.
    void exempt(QWidget *control) { m_exempt << control; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isInField(const QObject *o) const;
    bool isExempt(const QObject *o) const;

    QPointer<QWidget> m_field;
    QList<QPointer<QWidget>> m_exempt;
    Check m_check;
    Clear m_clear;
    bool m_running = false;
    bool m_swallowClick = false;
};
