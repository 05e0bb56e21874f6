#pragma once
// A window's message line: what the window last said, on one line that the
// operator reads and does not type in. A text longer than the line scrolls
// and shows whole as the tooltip; to a screen reader the line is a status
// bar whose name is what it says, and each new text is announced.

#include <QLineEdit>

class MessageLine : public QLineEdit {
    Q_OBJECT
public:
    explicit MessageLine(QWidget *parent = nullptr);

    // The same text said again is announced again, its tooltip kept.
    void say(const QString &text);

private:
    void changed(const QString &text);
};
