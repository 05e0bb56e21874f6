// The settings screen's fields: how they are laid out and checked, and the
// record they stand for (the exchanges are in frmSetExchanges.cpp).
#include "screens/frmSet.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "protocol/RegisterMap.h"
#include "protocol/SettingsLists.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"
#include "screens/frmReg.h"
#include "serial/DoEvents.h"
#include "serial/ReplyTimer.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "widgets/Accessible.h"
#include "widgets/FocusValidator.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <cmath>

namespace {

bool inRange(const QString &text, double high)
{
    const auto v = TextConvert::parseNumber(text);
    return v && *v >= 0 && *v <= high;
}

} // namespace

frmSet::frmSet(CommControl &comm, ReplyTimer &timer, QWidget *parent)
    : QWidget(parent, Qt::Window), m_comm(comm), m_timer(timer)
{
    Ui::fixedFrame(this, true);
    Ui::setClientSize(this, 5850, 6030);
    const QFont boxFont = Ui::gothic(14.25);

    TextSign = new QLineEdit(this);
    TextSign->setReadOnly(true);
    TextSign->setFocusPolicy(Qt::NoFocus);
    Ui::place(TextSign, 210, 150, 405, 420);
    Ui::setBackground(TextSign, Ui::colour(Ui::Green));
    TextSign->setAccessibleName(app().dispName(Ui::LinkIndicator));

    TextMess = new MessageLine(this);
    TextMess->setFont(boxFont);
    Ui::place(TextMess, 660, 150, 5025, 420);
    TextMess->installEventFilter(this);

    Frame1 = new QFrame(this);
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Ui::place(Frame1, 210, 720, 5475, 4410);

    struct Row {
        const char *name;
        const char *caption;
        const char *tip;
        QComboBox **box;
        const QStringList *items;
        bool typed;
    };
    const Row rows[] = {
        {"Cmb_B", QT_TR_NOOP("周波数バンド"), "(0-3)", &Cmb_B, &SettingsLists::band(), true},
        {"Cmb_C", QT_TR_NOOP("周波数チャンネル"), "(00-23)", &Cmb_C, &SettingsLists::channel(), true},
        {"Cmb_type", QT_TR_NOOP("動作タイプ"), QT_TR_NOOP("(ﾏｽﾀ-/ｽﾚｰﾌﾞ)"), &Cmb_type, &SettingsLists::type(), false},
        {"Cmb_ante", QT_TR_NOOP("アンテナ"), QT_TR_NOOP("(ｼﾝｸﾞﾙ/ﾀﾞｲﾊﾞｰｼﾃｨ)"), &Cmb_ante, &SettingsLists::antenna(), false},
        {"Cmb_bps", QT_TR_NOOP("ボーレート"), nullptr, &Cmb_bps, &SettingsLists::bitRate(), false},
        {"Cmb_dlen", QT_TR_NOOP("データ長"), nullptr, &Cmb_dlen, &SettingsLists::dataLength(), false},
        {"Cmb_parity", QT_TR_NOOP("パリティ"), nullptr, &Cmb_parity, &SettingsLists::parity(), false},
        {"Cmb_stop", QT_TR_NOOP("ストップビット"), nullptr, &Cmb_stop, &SettingsLists::stopBits(), false},
        {"Cmb_flow", QT_TR_NOOP("フロー制御"), nullptr, &Cmb_flow, &SettingsLists::flow(), false},
    };
    const QColor scrollBar(200, 200, 200);
    int top = 180;
    for (const Row &row : rows) {
        auto *caption = new QLineEdit(tr(row.caption), Frame1);
        caption->setReadOnly(true);
        caption->setAccessibleName(caption->text());
        caption->setFocusPolicy(Qt::NoFocus);
        caption->setFont(boxFont);
        Ui::setBackground(caption, scrollBar);
        if (row.tip)
            caption->setToolTip(tr(row.tip));
        Ui::place(caption, 120, top, 2400, 420);
        if (!Text_B)
            Text_B = caption;

        auto *box = new QComboBox(Frame1);
        box->setFont(boxFont);
        box->addItems(*row.items);
        box->setEditable(row.typed);
        if (row.typed) {
            box->setInsertPolicy(QComboBox::NoInsert);
            box->setCompleter(nullptr);
        }
        Ui::place(box, 2580, top, 2760, 420);
        box->setObjectName(QLatin1String(row.name));
        Ui::nameAfter(box, caption->text()); // not by the item it shows
        *row.box = box;
        top += 465;
    }

    auto button = [this](const char *name, const char *caption, int left, int width) {
        auto *b = new QPushButton(tr(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setFont(Ui::gothic(12));
        Ui::place(b, left, 5310, width, 555);
        return b;
    };
    Command_W = button("Command_W", QT_TR_NOOP("設定"), 210, 1500);
    Command_R = button("Command_R", QT_TR_NOOP("読込"), 1830, 1500);
    Command_V = button("Command_V", QT_TR_NOOP("バージョン読込"), 3450, 2235);

    m_bandCheck = new FocusValidator(
        Cmb_B, [this] { return inRange(Cmb_B->currentText(), 4); },
        [this] { Cmb_B->setEditText(QString()); });
    m_channelCheck = new FocusValidator(
        Cmb_C, [this] { return inRange(Cmb_C->currentText(), 23); },
        [this] { Cmb_C->setEditText(QString()); });

    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &frmSet::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, [] {}); // fires and does nothing
    connect(Command_W, &QPushButton::clicked, this, &frmSet::Command_W_Click);
    connect(Command_R, &QPushButton::clicked, this, &frmSet::Command_R_Click);
    connect(Command_V, &QPushButton::clicked, this, &frmSet::Command_V_Click);
    connect(&m_comm, &CommControl::exchangeRunningChanged, this, &frmSet::gateChanged);
    connect(&m_comm, &CommControl::unitWritten, this, &frmSet::unitWritten);
    connect(&m_comm, &CommControl::lineLost, this, &frmSet::lineLost);
    connect(&m_comm, &CommControl::portChanged, this, &frmSet::portChanged);

    SetVersionHook([this](const QString &text) { TextMess->setText(text); });
    Ui::enterPressesButtons(this);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    Ui::fitScreen(this);
}

frmSet::~frmSet() { SetVersionHook(nullptr); }

void frmSet::Form_Load()
{
    AppState &s = app();
    Ui::setTitle(this, s.dispName(13));
    Command_V->setVisible(true);
    TextSign->setVisible(true);
    Ui::setBackground(TextMess, Ui::colour(Ui::LightGrey));
    QString tip;
    for (int n = 18; n <= 22; ++n)
        tip += s.dispName(n) + QStringLiteral("  ");
    Text_B->setToolTip(tip);
    Cmb_B->setEditText(QStringLiteral("0"));
    Cmb_C->setEditText(QStringLiteral("00"));
    for (QComboBox *box : {Cmb_type, Cmb_ante, Cmb_bps, Cmb_dlen, Cmb_parity, Cmb_stop, Cmb_flow})
        box->setCurrentIndex(0);
    Cmb_B->setToolTip(s.dispName(18));
    Ui::setBackground(TextSign, Ui::colour(Ui::Red));
    s.MessageClickCount = 0;
    m_fieldsFromUnit = false;
    m_lostLine = false;
    gateChanged(m_comm.exchangeRunning());
    TextMess->clear();
    Timer1.stop();
    Timer2.stop();
    if (s.UnitMode == 2) {
        startHandshake();
        showMessage(0);
    }
}

void frmSet::closeEvent(QCloseEvent *event)
{
    // Closed mid-exchange, the screen's buttons would be free for a second
    // exchange inside the first; it closes once its exchange has ended.
    if (m_comm.exchangeOwner() == this) {
        showMessage(ExchangeBusyMessage);
        event->ignore();
        return;
    }
    Timer1.stop();
    Timer2.stop();
    event->accept();
}

void frmSet::showMessage(int n) { Ui::showLine(TextMess, app().message(n)); }

bool frmSet::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == TextMess
        && (event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonDblClick)
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        TextMess_Click(); // a double-click counts twice, as a click and a double-click
    return QWidget::eventFilter(watched, event);
}

void frmSet::TextMess_Click()
{
    AppState &s = app();
    if (m_comm.exchangeRunning())
        return; // no second exchange inside the first
    if (++s.MessageClickCount < 5)
        return;
    s.MessageClickCount = 0;
    frmReg editor(m_comm, m_timer, this);
    editor.Form_Load();
    // Blocks this screen and the windows it belongs to, not the traffic console.
    editor.setWindowModality(Qt::WindowModal);
    editor.exec();
}

// A text that is no item (a list position the unit reported past the list's
// end) shows as no item, never as the item shown before.
void frmSet::setListText(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly));
}

QString frmSet::bandDigit(const QString &bandText)
{
    const auto v = TextConvert::parseNumber(bandText);
    if (!v || *v < 0 || *v > 4 || *v != std::floor(*v))
        return {};
    return QString::number(int(*v));
}

QString frmSet::decodeBandRegister(const QString &value)
{
    const auto band = BandOfRegister(value);
    return band ? QStringLiteral("  %1").arg(*band, 2, 10, QLatin1Char('0')) : QString();
}

QString frmSet::decodeChannelRegister(const QString &value)
{
    const auto channel = ChannelOfRegister(value);
    return channel ? QStringLiteral("  %1").arg(*channel, 2, 10, QLatin1Char('0')) : QString();
}

