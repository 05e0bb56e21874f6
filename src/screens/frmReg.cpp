// The register editor: one register 00 to 27 read or written at a time.
#include "screens/frmReg.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"
#include "records/SiteBookOutcomes.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "widgets/BookEntry.h"
#include "widgets/Accessible.h"
#include "widgets/FocusValidator.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QApplication>
#include <QCloseEvent>
#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPushButton>

frmReg::frmReg(CommControl &comm, ReplyTimer &timer, QWidget *parent)
    : QDialog(parent), m_comm(comm), m_timer(timer)
{
    Ui::fixedFrame(this, false);
    Ui::setClientSize(this, 5430, 2775);
    const QFont boxFont = Ui::gothic(14.25);

    TextMess = new MessageLine(this);
    TextMess->setFont(boxFont);
    Ui::setBackground(TextMess, Ui::colour(Ui::LightGrey));
    Ui::place(TextMess, 300, 120, 4785, 420);

    Frame1 = new QFrame(this);
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Ui::place(Frame1, 345, 735, 4725, 1110);

    Text_C = new QLineEdit(QStringLiteral("Register"), Frame1);
    Text_C->setReadOnly(true);
    Text_C->setFont(boxFont);
    Text_C->setToolTip(QStringLiteral("(00-27)"));
    Text_C->setAccessibleName(Text_C->text());
    Text_C->setFocusPolicy(Qt::NoFocus); // a caption, as on the settings screen
    Ui::place(Text_C, 450, 360, 1635, 465);

    Cmb_C = new QComboBox(Frame1);
    Cmb_C->setEditable(true);
    Cmb_C->setInsertPolicy(QComboBox::NoInsert);
    Cmb_C->setCompleter(nullptr);
    Cmb_C->setFont(boxFont);
    for (int n = 0; n < 28; ++n)
        Cmb_C->addItem(QStringLiteral("  %1").arg(n, 2, 10, QLatin1Char('0')));
    Ui::place(Cmb_C, 2100, 360, 1065, 465);

    Text1 = new QLineEdit(QStringLiteral("00"), Frame1);
    Text1->setFont(boxFont);
    Text1->setAlignment(Qt::AlignCenter);
    Text1->setMaxLength(2);
    // Pasting and dropping would bring text past the key filter.
    Text1->setContextMenuPolicy(Qt::NoContextMenu);
    Text1->setAcceptDrops(false);
    Text1->setAttribute(Qt::WA_InputMethodEnabled, false); // composed text skips key presses
    Text1->installEventFilter(this);
    Ui::place(Text1, 3360, 360, 975, 465);
    Ui::nameAfter(Cmb_C, Text_C->text());
    Ui::nameAfter(Text1, app().dispName(Ui::RegisterValue));

    Cmd_W = new QPushButton(QStringLiteral("Write"), this);
    Cmd_R = new QPushButton(QStringLiteral("Read"), this);
    for (QPushButton *b : {Cmd_W, Cmd_R}) {
        b->setFont(Ui::gothic(12));
        b->setAutoDefault(false);
    }
    Ui::place(Cmd_W, 810, 2070, 1215, 435);
    Ui::place(Cmd_R, 2145, 2070, 1215, 435);

    setTabOrder(Cmb_C, Text1);
    setTabOrder(Text1, Cmd_W);
    setTabOrder(Cmd_W, Cmd_R);
    setTabOrder(Cmd_R, TextMess);
    Ui::setNames({{Cmb_C, "Cmb_C"}, {Text1, "Text1"}, {Cmd_W, "Cmd_W"}, {Cmd_R, "Cmd_R"}});

    m_registerCheck = new FocusValidator(
        Cmb_C,
        [this] {
            const auto v = TextConvert::parseNumber(Cmb_C->currentText());
            return v && *v >= 0 && *v <= 27;
        },
        [this] { Cmb_C->setEditText(QString()); });

    connect(Cmd_R, &QPushButton::clicked, this, &frmReg::Cmd_R_Click);
    connect(Cmd_W, &QPushButton::clicked, this, &frmReg::Cmd_W_Click);
    Ui::enterPressesButtons(this);
    Ui::fitScreen(this);
}

void frmReg::Form_Load()
{
    Ui::setTitle(this, app().dispName(17));
    Cmb_C->setEditText(QStringLiteral("  00"));
    Cmb_C->setFocus();
}

QString frmReg::digitsOf(const QString &text) { return TextConvert::right2(text.trimmed()); }

int frmReg::registerNumber(const QString &text)
{
    return int(TextConvert::roundHalfEven(TextConvert::leadingNumber(text)));
}

void frmReg::showMessage(int n) { Ui::showLine(TextMess, app().message(n)); }

// Escape and the close box wait for the editor's exchange to end: closed
// mid-exchange, the settings screen's buttons would start a second one
// inside it.
void frmReg::reject()
{
    if (m_comm.exchangeOwner() == this)
        showMessage(ExchangeBusyMessage);
    else
        QDialog::reject();
}

void frmReg::closeEvent(QCloseEvent *event)
{
    if (m_comm.exchangeOwner() == this) {
        showMessage(ExchangeBusyMessage);
        event->ignore();
    } else {
        QDialog::closeEvent(event);
    }
}

namespace {
// Two decimal digits naming one of the registers 00..27.
bool isRegisterNumber(const QString &n)
{
    return n.size() == 2 && n[0] >= u'0' && n[0] <= u'2' && n[1] >= u'0' && n[1] <= u'9'
        && n.toInt() <= 27;
}
} // namespace

bool frmReg::valueFits(const QString &value)
{
    return value.size() == 2 && !Text1_KeyPress(value[0]).isNull()
        && !Text1_KeyPress(value[1]).isNull();
}

// Only hexadecimal digits and "." reach the value box, letters in upper case.
QChar frmReg::Text1_KeyPress(QChar c)
{
    if (c == u'.' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))
        return c;
    if (c >= u'a' && c <= u'f')
        return c.toUpper();
    return QChar();
}

QString frmReg::filtered(const QString &text)
{
    QString kept;
    for (const QChar c : text)
        if (const QChar k = Text1_KeyPress(c); !k.isNull())
            kept += k;
    return kept;
}

// Typed characters and pasted text go through the key filter; editing keys
// (Delete, Backspace, the arrows, select-all) bring no character and work as
// in any text box.
bool frmReg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != Text1)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Paste)) {
            Text1->insert(filtered(QApplication::clipboard()->text()));
            return true;
        }
        const QString text = key->text();
        const bool typed = text.size() == 1 && text[0].isPrint()
            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (!typed)
            return false;
        const QString kept = filtered(text);
        if (kept == text)
            return false;
        Text1->insert(kept);
        return true;
    }
    // The X11 selection, pasted with the middle button.
    if ((event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)
        && static_cast<QMouseEvent *>(event)->button() == Qt::MiddleButton) {
        if (event->type() == QEvent::MouseButtonRelease)
            Text1->insert(filtered(QApplication::clipboard()->text(QClipboard::Selection)));
        return true;
    }
    return false;
}

void frmReg::Cmd_R_Click()
{
    if (app().UnitMode != 2 && app().UnitMode != 4)
        return; // no unit chosen: nothing to read, nothing to discard
    Ui::ExchangeScope exchange(this, TextMess, m_comm);
    if (!exchange.started()) {
        showMessage(ExchangeBusyMessage);
        return;
    }
    const QString text = Cmb_C->currentText();
    const QString command = QStringLiteral("F") + digitsOf(text);
    const int mode = app().UnitMode;
    Ui::BookEntry book(QStringLiteral("register read"), m_comm);
    const auto said = [&](int n, const QString &result) {
        showMessage(n);
        book.record(result, app().message(n));
    };
    const auto read = [&](int n, const QString &value) {
        UnitConfig config;
        config.registers[size_t(qBound(0, n, UnitConfig::Registers - 1))] = value;
        book.entry().before = SettingsOf(config);
    };
    if (mode == 4) {
        showMessage(32);
        QString value;
        if (!ReadRegister(m_comm, m_timer, quint8(registerNumber(text)), value)) {
            said(exchange.failureMessage(34), QStringLiteral("failed"));
        } else if (!valueFits(value)) {
            said(IncompleteReplyMessage, QStringLiteral("failed")); // no value the box could hold
        } else {
            Text1->setText(filtered(value)); // as the box would take it typed
            read(registerNumber(text), value);
            said(33, QStringLiteral("read"));
        }
    } else if (mode == 2) {
        showMessage(16);
        SendWiredCommand(m_comm, m_timer, command);
        QString letter;
        const QString &number = app().ReplyRegNo;
        if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter)) {
            said(exchange.failureMessage(24), QStringLiteral("failed"));
        } else if (letter == QLatin1String("F")
                   && !(isRegisterNumber(number) && valueFits(app().ReplyRegValue))) {
            // Cut short, or naming no register: the boxes would show what no
            // write should go back with.
            said(IncompleteReplyMessage, QStringLiteral("failed"));
        } else if (letter == QLatin1String("F")) {
            Cmb_C->setEditText(QStringLiteral("  ") + app().ReplyRegNo);
            Text1->setText(filtered(app().ReplyRegValue));
            read(number.toInt(), app().ReplyRegValue);
            said(17, QStringLiteral("read"));
        } else {
            said(25, QStringLiteral("failed"));
        }
    }
}

void frmReg::Cmd_W_Click()
{
    if (app().UnitMode != 2 && app().UnitMode != 4)
        return;
    Ui::ExchangeScope exchange(this, TextMess, m_comm);
    if (!exchange.started()) {
        showMessage(ExchangeBusyMessage);
        return;
    }
    const QString text = Cmb_C->currentText();
    const QString value = digitsOf(Text1->text());
    const QString command = QStringLiteral("S") + digitsOf(text) + value;
    const int mode = app().UnitMode;
    Ui::BookEntry book(QStringLiteral("register write"), m_comm);
    // What went out, in the detail: acknowledged is not read back.
    const auto said = [&](int n, const QString &result) {
        showMessage(n);
        book.record(result, app().message(n) + QStringLiteral("\nregister %1 = %2")
                                                   .arg(registerNumber(text), 2, 10, QLatin1Char('0'))
                                                   .arg(value));
    };
    // Sent and not acknowledged: the unit may have taken it.
    if (mode == 4) {
        showMessage(35);
        bool refused = false;
        if (WriteRegister(m_comm, m_timer, qint16(registerNumber(text)), value, &refused)) {
            ResetUnit(m_comm, m_timer);
            said(36, QStringLiteral("written"));
        } else {
            said(exchange.failureMessage(37),
                 refused ? QStringLiteral("not written") : QStringLiteral("may have been written"));
        }
    } else if (mode == 2) {
        showMessage(13);
        SendWiredCommand(m_comm, m_timer, command);
        QString letter;
        if (!WaitWiredReply(m_comm, m_timer, WiredReplyMs, letter))
            said(exchange.failureMessage(24), QStringLiteral("may have been written"));
        else if (letter == QLatin1String("A"))
            said(14, QStringLiteral("written"));
        else if (letter == QLatin1String("N"))
            said(15, QStringLiteral("not written"));
        else
            said(25, QStringLiteral("may have been written"));
    }
}
