// The settings screen's exchanges with the unit: the link watch and its
// poll, the lost line and its return, and the Write, Read and version buttons.
#include "screens/frmSet.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "protocol/RegisterMap.h"
#include "protocol/SettingsLists.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"
#include "records/SiteBookOutcomes.h"
#include "screens/frmReg.h"
#include "serial/DoEvents.h"
#include "serial/ReplyTimer.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "widgets/BookEntry.h"
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

} // namespace

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
    Ui::BookEntry book(QStringLiteral("settings write"), m_comm);
    SendWiredCommand(m_comm, m_timer, command);
    QString letter;
    // Sent and not acknowledged: the unit may have taken it. What went out
    // is in the detail: acknowledged is not read back.
    QStringList sent;
    for (const auto &[key, value] : RecordFields(UnitRecord::fromText(command.mid(1)).value_or(UnitRecord())))
        sent << key + QStringLiteral(" = ") + value;
    const auto said = [&](int n, const QString &result) {
        showMessage(n);
        book.record(result, app().message(n) + QLatin1Char('\n') + sent.join(QLatin1Char('\n')));
    };
    if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter)) {
        said(exchange.failureMessage(24), QStringLiteral("may have been written"));
    } else if (letter == QLatin1String("A")) {
        said(30, QStringLiteral("written"));
    } else if (letter == QLatin1String("N")) {
        said(31, QStringLiteral("not written"));
    } else {
        said(25, QStringLiteral("may have been written"));
    }
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
    Ui::BookEntry book(QStringLiteral("settings read"), m_comm);
    const auto failed = [&](int n) {
        showMessage(n);
        book.record(QStringLiteral("failed"), app().message(n));
    };
    SendWiredCommand(m_comm, m_timer, QStringLiteral("R"));
    QString letter;
    if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter)) {
        failed(exchange.failureMessage(24));
        return;
    }
    if (letter != QLatin1String("R")) {
        failed(25);
        return;
    }
    // A record cut short or garbled is no read: missing positions would show
    // as the first items and pass for the unit's settings.
    if (!RecordReplyComplete(s.ReplyRecord)) {
        failed(IncompleteReplyMessage);
        return;
    }
    UnitConfig read;
    read.record = UnitRecord::fromText(s.ReplyRecord.right(10)).value_or(UnitRecord());
    EntryRead(book.entry(), read);
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
    book.record(QStringLiteral("read"), app().message(27));
}

void frmSet::readRegisters(const Ui::ExchangeScope &exchange)
{
    AppState &s = app();
    showMessage(32);
    Ui::BookEntry book(QStringLiteral("settings read"), m_comm);
    UnitConfig read;
    const auto keep = [&read](int n, const QString &value) { read.registers[size_t(n)] = value; };
    bool success = true;
    QString value;
    // Success only when the screen can show what the unit holds: a band code
    // or channel the register map does not know fails the read.
    if (ReadRegister(m_comm, m_timer, BandRegister, value)) {
        keep(BandRegister, value);
        const QString band = decodeBandRegister(value);
        if (band.isEmpty())
            success = false;
        else
            s.RegisterBand = band;
    } else {
        success = false;
    }
    if (ReadRegister(m_comm, m_timer, ChannelRegister, value)) {
        keep(ChannelRegister, value);
        const QString channel = decodeChannelRegister(value);
        if (channel.isEmpty())
            success = false;
        else
            s.RegisterChannel = channel;
    } else {
        success = false;
    }
    for (const int n : {4, 5}) {
        if (ReadRegister(m_comm, m_timer, quint8(n), value))
            keep(n, value);
        else
            success = false;
    }
    EntryRead(book.entry(), read);
    if (success) {
        Cmb_B->setEditText(s.RegisterBand);
        Cmb_C->setEditText(s.RegisterChannel);
        showMessage(33);
        book.record(QStringLiteral("read"), app().message(33));
    } else {
        const int n = exchange.failureMessage(34);
        showMessage(n);
        book.record(QStringLiteral("failed"), app().message(n));
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
    Ui::BookEntry book(QStringLiteral("version"), m_comm);
    SendWiredCommand(m_comm, m_timer, QStringLiteral("V"));
    QString letter;
    if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter)) {
        const int n = exchange.failureMessage(24);
        showMessage(n);
        book.record(QStringLiteral("failed"), app().message(n));
    } else if (letter != QLatin1String("V")) {
        showMessage(25);
        book.record(QStringLiteral("failed"), app().message(25));
    } else {
        TextMess->setText(app().ReplyVersion);
        book.entry().version = app().ReplyVersion;
        book.record(QStringLiteral("read"), app().ReplyVersion);
    }
}
