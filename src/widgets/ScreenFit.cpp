// Fitting windows into the screen and cells into their tables.
#include "widgets/ScreenFit.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLayout>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

namespace Ui {

namespace {

const char *const ControlsName = "screenFitControls";

// Where the window's own area may lie: the screen's free area less the
// window manager's frame (before the first show it is not known yet: room
// for a title bar and thin borders).
QRect clientArea(QWidget *w)
{
    const QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    const QRect free = screen->availableGeometry();
    QMargins frame(w->geometry().left() - w->frameGeometry().left(), w->geometry().top() - w->frameGeometry().top(),
                   w->frameGeometry().right() - w->geometry().right(),
                   w->frameGeometry().bottom() - w->geometry().bottom());
    if (frame.isNull()) {
        const int border = w->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
        frame = QMargins(border, w->style()->pixelMetric(QStyle::PM_TitleBarHeight) + border, border, border);
    }
    return free - frame;
}

// The controls into a scroll area filling the window.
void scroll(QWidget *w, bool fixed)
{
    auto *area = new QScrollArea(w);
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus); // not a stop of its own for Tab
    if (auto *main = qobject_cast<QMainWindow *>(w)) {
        main->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        area->setWidgetResizable(true);
        area->setWidget(main->takeCentralWidget());
        main->setCentralWidget(area);
        return;
    }
    auto *inside = new QWidget;
    inside->setObjectName(QLatin1String(ControlsName));
    area->setWidget(inside); // in the window from here on: the focus chain stays as it was
    if (fixed) {
        inside->setFixedSize(w->size());
        for (QWidget *child : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child == area || child->isWindow())
                continue;
            const bool shown = !child->isHidden();
            child->setParent(inside);
            child->setVisible(shown);
        }
    } else {
        area->setWidgetResizable(true);
        inside->setLayout(w->layout()); // takes the layout's widgets along
    }
    auto *whole = new QVBoxLayout(w);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->addWidget(area);
}

bool scrolls(QWidget *w)
{
    if (auto *main = qobject_cast<QMainWindow *>(w))
        return qobject_cast<QScrollArea *>(main->centralWidget());
    return w->findChild<QWidget *>(QLatin1String(ControlsName));
}

void fit(QWidget *w)
{
    const QRect area = clientArea(w);
    const bool fixed = w->minimumSize() == w->maximumSize();
    const QSize least = fixed ? w->minimumSize() : w->minimumSizeHint().expandedTo(w->minimumSize());
    if ((least.width() > area.width() || least.height() > area.height()) && !scrolls(w)) {
        scroll(w, fixed);
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX); // a fixed one too: the area scrolls
        w->setMinimumSize(w->minimumSizeHint().boundedTo(area.size()));
    }
    const QSize size = w->size().boundedTo(area.size());
    if (w->minimumSize() == w->maximumSize())
        w->setFixedSize(size);
    else
        w->resize(size);
    QRect placed(w->geometry().topLeft(), size);
    placed.moveLeft(qBound(area.left(), placed.left(), area.right() + 1 - size.width()));
    placed.moveTop(qBound(area.top(), placed.top(), area.bottom() + 1 - size.height()));
    if (placed.topLeft() != w->geometry().topLeft())
        w->move(w->pos() + placed.topLeft() - w->geometry().topLeft());
}

class Fitter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            fit(static_cast<QWidget *>(watched));
        return false;
    }
};

} // namespace

void fitScreen(QWidget *window) { window->installEventFilter(new Fitter(window)); }

QWidget *controlsOf(QWidget *window)
{
    QWidget *inside = window->findChild<QWidget *>(QLatin1String(ControlsName));
    return inside && inside->window() == window ? inside : window;
}

void fitCells(QAbstractItemView *view)
{
    view->setTabKeyNavigation(false);
    QHeaderView *header = nullptr;
    if (auto *table = qobject_cast<QTableView *>(view))
        header = table->horizontalHeader();
    else if (auto *tree = qobject_cast<QTreeView *>(view))
        header = tree->header();
    auto *pending = new QTimer(view);
    pending->setSingleShot(true);
    pending->setInterval(0);
    QObject::connect(pending, &QTimer::timeout, view, [view, header] {
        QAbstractItemModel *model = view->model();
        if (!model || !header)
            return;
        for (int c = 0; c < model->columnCount(); ++c) { // a stretched one keeps what is left
            const bool stretched = header->sectionResizeMode(c) == QHeaderView::Stretch
                || (header->stretchLastSection() && c == model->columnCount() - 1);
            if (!stretched && !header->isSectionHidden(c))
                header->resizeSection(c, qMax(view->sizeHintForColumn(c), header->sectionSizeHint(c)));
        }
        if (auto *table = qobject_cast<QTableView *>(view); table && table->wordWrap())
            table->resizeRowsToContents();
    });
    const auto later = [pending] { pending->start(); }; // once for many changes
    if (QAbstractItemModel *model = view->model()) {
        QObject::connect(model, &QAbstractItemModel::dataChanged, view, later);
        QObject::connect(model, &QAbstractItemModel::rowsInserted, view, later);
        QObject::connect(model, &QAbstractItemModel::modelReset, view, later);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, view, later);
        QObject::connect(model, &QAbstractItemModel::headerDataChanged, view, later);
    }
    if (header)
        QObject::connect(header, &QHeaderView::sectionResized, view, [view, header, later](int c) {
            // A stretched column's new width wraps its text anew.
            if (header->sectionResizeMode(c) == QHeaderView::Stretch || c == header->count() - 1)
                later();
        });
    later();
}

} // namespace Ui
