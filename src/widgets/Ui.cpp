// What every window is built with: the form designer's units and looks on Qt.
#include "widgets/Ui.h"

#include "serial/mod232C.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QWindow>
#include <QFontDatabase>
#include <QFontMetrics>
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

void setTitle(QWidget *w, const QString &title)
{
    w->setWindowTitle(title);
    if (!title.isEmpty())
        return;
    // Qt's window-system layer puts the application name into an empty title;
    // a zero-width space shows as nothing.
    w->winId();
    if (QWindow *native = w->windowHandle())
        native->setTitle(QStringLiteral("\u200B"));
}

void fitTitle(QWidget *w)
{
    // The window manager draws the title in a bold face of about the
    // desktop's size, beside its buttons and the window's icon.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const int needed =
        QFontMetrics(titleFont).horizontalAdvance(w->windowTitle()) + px(2400);
    const int width = w->width();
    if (needed <= width)
        return;
    const int shift = (needed - width) / 2;
    for (QWidget *child : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow())
            child->move(child->x() + shift, child->y());
    w->setFixedSize(needed, w->height());
}

void fixedFrame(QWidget *w, bool minimize)
{
    Qt::WindowFlags flags = (w->windowFlags() & Qt::WindowType_Mask) | Qt::CustomizeWindowHint
        | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (minimize)
        flags |= Qt::WindowMinimizeButtonHint;
    w->setWindowFlags(flags);
}

namespace {
class EnterPresses : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (!button || (key != Qt::Key_Return && key != Qt::Key_Enter) || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};
} // namespace

void enterPressesButtons(QWidget *window)
{
    auto *filter = new EnterPresses(window);
    for (QPushButton *b : window->findChildren<QPushButton *>())
        b->installEventFilter(filter);
}

void showLine(QLineEdit *line, const QString &text)
{
    if (auto *message = qobject_cast<MessageLine *>(line))
        return message->say(text);
    line->setToolTip(QString()); // a tooltip told the whole of an earlier text
    line->setText(text);
    line->setCursorPosition(0);
}

void messageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    setTitle(&box, title);
    box.exec();
}

bool ask(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    setTitle(&box, title);
    return box.exec() == QMessageBox::Yes;
}

ExchangeScope::ExchangeScope(QWidget *window, QWidget *messageLine, CommControl &comm)
    : m_exchange(comm, window)
{
    if (!m_exchange.started())
        return;
    m_focus = window->focusWidget();
    for (QWidget *child : controlsOf(window)->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child == messageLine || !child->isEnabled() || child->isWindow())
            continue;
        child->setEnabled(false);
        m_disabled << child;
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

ExchangeScope::~ExchangeScope()
{
    if (!m_exchange.started())
        return;
    QApplication::restoreOverrideCursor();
    for (const QPointer<QWidget> &w : m_disabled)
        if (w)
            w->setEnabled(true);
    if (m_focus && m_focus->isEnabled() && m_focus->isVisible())
        m_focus->setFocus(Qt::OtherFocusReason);
}

void installPortErrorBox()
{
    // Over the window that asked for the port: the port dialog, or else the
    // main window, which owns the port, whatever other window is active.
    SetPortErrorBox([](const QString &title, const QString &text) {
        QWidget *owner = QApplication::activeModalWidget();
        if (!owner)
            for (QWidget *w : QApplication::topLevelWidgets())
                if (qobject_cast<QMainWindow *>(w) && w->isVisible())
                    owner = w;
        messageBox(owner ? owner : QApplication::activeWindow(), QMessageBox::Critical, title,
                   text);
    });
}

} // namespace Ui
