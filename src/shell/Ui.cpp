#include "shell/Ui.h"

#include "serial/mod232C.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace Ui {

namespace {
double dpiScale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
}
} // namespace

int px(int twips) { return int(std::lround(twips / 15.0 * dpiScale())); }

QRect rect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

void place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(rect(left, top, width, height));
}

void setClientSize(QWidget *w, int width, int height) { w->setFixedSize(px(width), px(height)); }

QColor colour(quint32 bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

void setBackground(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Disabled, QPalette::Base, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void setForeground(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

QFont gothic(double points)
{
    // Debian has no MS P Gothic, and fontconfig would hand out DejaVu Sans for
    // it; IPA P Gothic has the same metrics.
    static const QString family = [] {
        const QString ms = QStringLiteral("ＭＳ Ｐゴシック");
        const QString ipa = QStringLiteral("IPAPGothic");
        QFont::insertSubstitution(ms, ipa);
        return QFontDatabase::hasFamily(ms) ? ms : ipa;
    }();
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(true);
    return f;
}

void messageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setWindowTitle(title);
    box.exec();
}

DisabledWhile::DisabledWhile(QWidget *w) : m_w(w) { m_w->setEnabled(false); }
DisabledWhile::~DisabledWhile() { m_w->setEnabled(true); }

void installPortErrorBox()
{
    SetPortErrorBox([](const QString &title, const QString &text) {
        messageBox(QApplication::activeWindow(), QMessageBox::Critical, title, text);
    });
}

} // namespace Ui
