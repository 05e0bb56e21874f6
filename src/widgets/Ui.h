#pragma once
// What every window is built with, in the old form designer's units and looks:
// twips, colours in blue-green-red order, the Gothic face, boxes, the exchange scope.

#include "serial/Exchange.h"

#include <QColor>
#include <QFont>
#include <QMessageBox>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

class QLineEdit;

namespace Ui {

// Twips to pixels: 15 twips a pixel at 96 DPI, scaled by the screen's DPI.
int px(int twips);
QRect rect(int left, int top, int width, int height);
void place(QWidget *w, int left, int top, int width, int height);
void setClientSize(QWidget *w, int width, int height);

// "&H00BBGGRR"
QColor colour(quint32 bgr);
inline const quint32 Red = 0x000000FF;
inline const quint32 Green = 0x0000FF00;
inline const quint32 LightGrey = 0x00E0E0E0;

void setBackground(QWidget *w, const QColor &c);
void setForeground(QWidget *w, const QColor &c);

// "ＭＳ Ｐゴシック", bold, in points.
QFont gothic(double points);

// A window title; an empty one stays empty in the title bar, where the
// window system would otherwise put the program's name.
void setTitle(QWidget *w, const QString &title);

// A fixed window whose title would be cut off in the title bar grows to
// show it, its controls kept in the middle.
void fitTitle(QWidget *w);

// A window of fixed size: no maximize button (and no minimize for dialogs).
void fixedFrame(QWidget *w, bool minimize);

// Enter on a focused button presses it, as Space does.
void enterPressesButtons(QWidget *window);

// A message line's text, shown from its beginning when it is longer than the line
// (a MessageLine shows it whole as its tooltip too, and announces it).
void showLine(QLineEdit *line, const QString &text);

// One modal message box; "empty title" means an empty title.
void messageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                const QString &text);

// A question with Yes and No; true for Yes. No is the default.
bool ask(QWidget *parent, const QString &title, const QString &text);

// One exchange of a window: the connection's gate held by the window, its
// inputs and buttons disabled while the message line stays readable, a busy
// cursor, and afterwards the focus back where the exchange was started from.
// Nothing of this when another exchange holds the gate (started() false).
class ExchangeScope {
public:
    ExchangeScope(QWidget *window, QWidget *messageLine, CommControl &comm);
    ~ExchangeScope();
    ExchangeScope(const ExchangeScope &) = delete;
    ExchangeScope &operator=(const ExchangeScope &) = delete;

    bool started() const { return m_exchange.started(); }
    int failureMessage(int failed) const { return m_exchange.failureMessage(failed); }

private:
    Exchange m_exchange;
    QList<QPointer<QWidget>> m_disabled;
    QPointer<QWidget> m_focus;
};

// The serial driver's failure boxes: stop icon, OK, over the active window.
void installPortErrorBox();

} // namespace Ui
