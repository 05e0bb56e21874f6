#pragma once
// Program-wide state shared by every window and module: the ground layer,
// which includes no other folder of the program.
//
// Data flow: operator -> screen (screens/, shell/) -> protocol (modModem,
// modWired) -> serial driver (serial/mod232C) -> unit, and back: received
// bytes -> ReceiveLine -> the innermost wait -> the Reply* values below ->
// screen. The text files (config/) fill this state once at start-up.

#include <QString>
#include <QStringList>

struct AppState {
    // Entries of both text tables. The first 51 are the original numbering;
    // the tables grew for texts added since. The last entry is never filled.
    static constexpr int TableSize = 500;
    static constexpr int FrhTableSize = 29; // entries 0..28, 28 never used
    static constexpr int RegisterCount = 28;

    // Location and serial-port settings. AppDir is the folder of the text
    // files: beside the program, or the user's own (config/TextFolder).
    QString AppDir;
    // Where the program makes files: logs, backups/ and the COMn links.
    // AppDir itself, or the user's own folder where AppDir is closed to new
    // files or others may change it; empty: nothing is made anywhere.
    QString WorkDir;
    // AppDir was found at start-up to be a folder nobody else can change:
    // its setcom.ini may be rewritten there.
    bool AppDirChecked = false;
    // The shipped dispname.ini and message.ini of the operator's language,
    // read where AppDir has none of its own; empty: none.
    QString ShippedTextDir;
    QString Language; // the operator's: "ja" or "en"
    qint16 ComPort = 0;
    QString ComBaud;
    QString ComDataBits;
    QString ComParity;
    QString ComStopBits;
    // Where the system names each USB serial adapter by what identifies it
    // (its serial number), whatever order it was plugged in.
    QString SerialByIdDir = QStringLiteral("/dev/serial/by-id");

    // Text tables
    QStringList MessageTable = QStringList(TableSize);
    QStringList DispNameTable = QStringList(TableSize);
    QStringList FrhTable = QStringList(FrhTableSize);

    // The serial driver's failure box texts, filled from messages 3..7 at load
    QString PortOpenErrTitle;
    QString PortOpenErrLine1;
    QString PortOpenErrLine2;
    QString PortCloseErrTitle;
    QString PortCloseErrText;

    // Switches and state flags
    bool DebugFlag = false;
    bool ExitConfirmed = false;
    qint16 UnitMode = 0;
    bool FrhDone = false;
    qint16 WatchMode = 0;
    qint32 MessageClickCount = 0;

    // Exchange state
    bool AwaitingAck = false;
    QString RxLineBuffer;
    // The line being received lost bytes or grew past the limit: everything
    // up to its CR or LF is dropped, so no tail of it becomes a reply.
    bool RxDiscarding = false;
    // The command just sent: a line received back as it went is the
    // adapter's echo (two-wire adapters repeat what they send), never a reply.
    QString LastCommandSent;
    QString LogFilePath;
    // Exchanges that the operator started; the link watch tells their late
    // replies from the unit's answer to its poll.
    quint32 ExchangesStarted = 0;
    // Waits now reading the port; while none does, nobody takes what arrives.
    int PortReaders = 0;

    // Values received from the unit or taken from the settings screen
    QString ReplyBand = QStringLiteral("00");
    QString ReplyChannel = QStringLiteral("00");
    QString ReplyType;
    QString ReplyAntenna;
    QString ReplyBitRate;
    QString ReplyDataLength;
    QString ReplyParity;
    QString ReplyStopBits;
    QString ReplyFlow;
    QString RegisterBand;
    QString RegisterChannel;
    QString ReplyVersion = QStringLiteral("00");
    QString ReplyRegNo;
    QString ReplyRegValue;
    // The ten record characters of the last "R" reply as they came, list
    // positions no item names included (a unit's own backup keeps them).
    QString ReplyRecord;

    QString message(int n) const { return entry(MessageTable, n); }
    QString dispName(int n) const { return entry(DispNameTable, n); }

private:
    static QString entry(const QStringList &table, int n)
    {
        return n >= 0 && n < table.size() ? table.at(n) : QString();
    }
};

// The one instance of the running program. Tests assign a fresh AppState.
AppState &app();

// A folder as AppDir keeps one: native separators, ending in the separator.
QString FolderPath(QString dir);

// The program folder, ending in the platform's separator.
QString ProgramDir();
