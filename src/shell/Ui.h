#pragma once
// The old form designer's units and looks on Qt: twips, colour literals in
// blue-green-red order, the Japanese Gothic face, message boxes.

#include <QColor>
#include <QFont>
#include <QMessageBox>
#include <QRect>
#include <QString>

class QWidget;

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

// One modal message box; "empty title" means an empty title.
void messageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                const QString &text);

// Disables a window for one exchange and enables it again, whatever happens.
class DisabledWhile {
public:
    explicit DisabledWhile(QWidget *w);
    ~DisabledWhile();
    DisabledWhile(const DisabledWhile &) = delete;
    DisabledWhile &operator=(const DisabledWhile &) = delete;

private:
    QWidget *m_w;
};

// The serial driver's failure boxes: stop icon, OK, over the active window.
void installPortErrorBox();

} // namespace Ui
