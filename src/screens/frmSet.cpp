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
#include "widgets/FocusValidator.h"
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

constexpr int PollMs = 500;
constexpr int WatchMs = 20000;
// Message-table number: the unit was written from another window.
constexpr int StaleFieldsMessage = 121;

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

    TextMess = new QLineEdit(this);
    TextMess->setReadOnly(true);
    TextMess->setFont(boxFont);
    Ui::place(TextMess, 660, 150, 5025, 420);
    TextMess->installEventFilter(this);

    Frame1 = new QFrame(this);
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Ui::place(Frame1, 210, 720, 5475, 4410);

    struct Row {
        const char *caption;
        const char *tip;
        QComboBox **box;
        const QStringList *items;
        bool typed;
    };
    const Row rows[] = {
        {QT_TR_NOOP("周波数バンド"), "(0-3)", &Cmb_B, &SettingsLists::band(), true},
        {QT_TR_NOOP("周波数チャンネル"), "(00-23)", &Cmb_C, &SettingsLists::channel(), true},
        {QT_TR_NOOP("動作タイプ"), QT_TR_NOOP("(ﾏｽﾀ-/ｽﾚｰﾌﾞ)"), &Cmb_type, &SettingsLists::type(), false},
        {QT_TR_NOOP("アンテナ"), QT_TR_NOOP("(ｼﾝｸﾞﾙ/ﾀﾞｲﾊﾞｰｼﾃｨ)"), &Cmb_ante, &SettingsLists::antenna(), false},
        {QT_TR_NOOP("ボーレート"), nullptr, &Cmb_bps, &SettingsLists::bitRate(), false},
        {QT_TR_NOOP("データ長"), nullptr, &Cmb_dlen, &SettingsLists::dataLength(), false},
        {QT_TR_NOOP("パリティ"), nullptr, &Cmb_parity, &SettingsLists::parity(), false},
        {QT_TR_NOOP("ストップビット"), nullptr, &Cmb_stop, &SettingsLists::stopBits(), false},
        {QT_TR_NOOP("フロー制御"), nullptr, &Cmb_flow, &SettingsLists::flow(), false},
    };
    const QColor scrollBar(200, 200, 200);
    int top = 180;
    for (const Row &row : rows) {
        auto *caption = new QLineEdit(tr(row.caption), Frame1);
        caption->setReadOnly(true);
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
        *row.box = box;
        top += 465;
    }

    auto button = [this](const char *caption, int left, int width) {
        auto *b = new QPushButton(tr(caption), this);
        b->setFont(Ui::gothic(12));
        Ui::place(b, left, 5310, width, 555);
        return b;
    };
    Command_W = button(QT_TR_NOOP("設定"), 210, 1500);
    Command_R = button(QT_TR_NOOP("読込"), 1830, 1500);
    Command_V = button(QT_TR_NOOP("バージョン読込"), 3450, 2235);

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

void frmSet::startHandshake()
{
    app().WatchMode = 2;
    Ui::setBackground(TextSign, Ui::colour(Ui::Red));
    Timer1.start(TimeScale::scaled(PollMs));
    Timer2.start(TimeScale::scaled(WatchMs));
}

void frmSet::unitWritten(const void *by)
{
    if (by == this || !isVisible())
        return; // its own write, or no fields shown
    m_fieldsFromUnit = false; // Write asks before it puts them back
    showMessage(StaleFieldsMessage);
}

void frmSet::lineLost()
{
    if (!isVisible())
        return;
    m_lostLine = true;
    Ui::setBackground(TextSign, Ui::colour(Ui::Red));
    showMessage(PortLostMessage);
}

void frmSet::portChanged(bool open)
{
    // The lost line is there again (by itself, or from the port dialog):
    // whatever answers on it now links anew.
    if (!open || !isVisible() || !m_lostLine)
        return;
    m_lostLine = false;
    showMessage(PortReopenedMessage);
    if (app().UnitMode == 2)
        startHandshake();
}

void frmSet::linkAnswered()
{
    if (!isVisible())
        return; // closed meanwhile: nothing to update, nothing to reopen
    Ui::setBackground(TextSign, Ui::colour(Ui::Green));
    showMessage(1);
    Timer1.stop();
    Timer2.stop();
    setEnabled(true);
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

void frmSet::gateChanged(bool running)
{
    if (m_comm.exchangeOwner() == this)
        return; // this screen's own exchange disables what it needs
    for (QPushButton *b : {Command_W, Command_R, Command_V})
        b->setEnabled(!running);
}

void frmSet::Timer1_Timer()
{
    // While an exchange runs, a poll's answer would be taken for its reply.
    if (app().UnitMode == 2 && !m_comm.exchangeRunning()) {
        // With no wait reading (the watch ended on another letter), the
        // answers of earlier polls would pile up unread.
        if (!PortReader::anyReading())
            DiscardInput(m_comm);
        SendWiredCommand(m_comm, m_timer, QStringLiteral("#"));
    }
    Timer1.setInterval(TimeScale::scaled(PollMs));
    LetEventsRun();
}

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

void frmSet::Command_W_Click()
{
    if (m_comm.exchangeRunning()) {
        showMessage(ExchangeBusyMessage);
        return;
    }
    // A record with a band that is no single digit would shift every later
    // field, and a list field showing no item would write a setting nobody
    // chose: refuse it before anything goes out.
    const QString band = bandDigit(Cmb_B->currentText());
    // A channel read from a unit is checked as a typed one is.
    const auto channel = TextConvert::parseNumber(Cmb_C->currentText());
    const QList<QComboBox *> lists{Cmb_type, Cmb_ante, Cmb_bps, Cmb_dlen,
                                   Cmb_parity, Cmb_stop, Cmb_flow};
    const bool listsShown =
        std::all_of(lists.begin(), lists.end(), [](QComboBox *b) { return b->currentIndex() >= 0; });
    if (band.isEmpty() || !channel || *channel < 0 || *channel > 23 || !listsShown) {
        showMessage(38);
        return;
    }
    // The start values look like a unit's settings but are not.
    if (!m_fieldsFromUnit && !Ui::ask(this, app().dispName(13), app().message(39)))
        return;
    Ui::ExchangeScope exchange(this, TextMess, m_comm);
    if (!exchange.started()) {
        showMessage(ExchangeBusyMessage);
        return;
    }
    QString command = QStringLiteral("D") + band + TextConvert::right2(TextConvert::hex(*channel));
    for (QComboBox *box : lists)
        command += (QStringLiteral("0") + QString::number(box->currentIndex())).right(1);

    showMessage(29);
    SendWiredCommand(m_comm, m_timer, command);
    QString letter;
    if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter))
        showMessage(exchange.failureMessage(24));
    else if (letter == QLatin1String("A"))
        showMessage(30);
    else if (letter == QLatin1String("N"))
        showMessage(31);
    else
        showMessage(25);
}

void frmSet::Command_R_Click()
{
    if (app().UnitMode != 2 && app().UnitMode != 4)
        return; // no unit chosen: nothing to read, nothing to discard
    Ui::ExchangeScope exchange(this, TextMess, m_comm);
    if (!exchange.started()) {
        showMessage(ExchangeBusyMessage);
        return;
    }
    if (app().UnitMode == 2)
        readWired(exchange);
    else if (app().UnitMode == 4)
        readRegisters(exchange);
}

void frmSet::readWired(const Ui::ExchangeScope &exchange)
{
    const AppState &s = app();
    showMessage(26);
    SendWiredCommand(m_comm, m_timer, QStringLiteral("R"));
    QString letter;
    if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter)) {
        showMessage(exchange.failureMessage(24));
        return;
    }
    if (letter != QLatin1String("R")) {
        showMessage(25);
        return;
    }
    // A record cut short or garbled is no read: missing positions would show
    // as the first items and pass for the unit's settings.
    if (!RecordReplyComplete(s.ReplyRecord)) {
        showMessage(IncompleteReplyMessage);
        return;
    }
    Cmb_B->setEditText(s.ReplyBand);
    // A channel past 23 shows in full, as the unit gave it, not as the last
    // two digits of it, which would pass for a valid channel.
    const int channel = RecordReplyChannel(s.ReplyRecord);
    Cmb_C->setEditText(channel > 23 ? QString::number(channel) : s.ReplyChannel);
    setListText(Cmb_type, s.ReplyType);
    setListText(Cmb_ante, s.ReplyAntenna);
    setListText(Cmb_bps, s.ReplyBitRate);
    setListText(Cmb_dlen, s.ReplyDataLength);
    setListText(Cmb_parity, s.ReplyParity);
    setListText(Cmb_stop, s.ReplyStopBits);
    setListText(Cmb_flow, s.ReplyFlow);
    m_fieldsFromUnit = true;
    showMessage(27);
}

void frmSet::readRegisters(const Ui::ExchangeScope &exchange)
{
    AppState &s = app();
    showMessage(32);
    bool success = true;
    QString value;
    // Success only when the screen can show what the unit holds: a band code
    // or channel the register map does not know fails the read.
    if (ReadRegister(m_comm, m_timer, BandRegister, value)) {
        const QString band = decodeBandRegister(value);
        if (band.isEmpty())
            success = false;
        else
            s.RegisterBand = band;
    } else {
        success = false;
    }
    if (ReadRegister(m_comm, m_timer, ChannelRegister, value)) {
        const QString channel = decodeChannelRegister(value);
        if (channel.isEmpty())
            success = false;
        else
            s.RegisterChannel = channel;
    } else {
        success = false;
    }
    if (!ReadRegister(m_comm, m_timer, 4, value))
        success = false;
    if (!ReadRegister(m_comm, m_timer, 5, value))
        success = false;
    if (success) {
        Cmb_B->setEditText(s.RegisterBand);
        Cmb_C->setEditText(s.RegisterChannel);
        showMessage(33);
    } else {
        showMessage(exchange.failureMessage(34));
    }
}

void frmSet::Command_V_Click()
{
    if (app().UnitMode != 2)
        return; // the version is asked on the wired path only
    Ui::ExchangeScope exchange(this, TextMess, m_comm);
    if (!exchange.started()) {
        showMessage(ExchangeBusyMessage);
        return;
    }
    showMessage(19);
    SendWiredCommand(m_comm, m_timer, QStringLiteral("V"));
    QString letter;
    if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter))
        showMessage(exchange.failureMessage(24));
    else if (letter != QLatin1String("V"))
        showMessage(25);
    else
        TextMess->setText(app().ReplyVersion);
}
