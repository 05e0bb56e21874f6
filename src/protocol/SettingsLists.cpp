// The settings screen's item lists, in the order the record counts them.
#include "protocol/SettingsLists.h"

#include <QCoreApplication>

namespace SettingsLists {

namespace {
// The items in the operator's language; the order, which is what goes on
// the wire, never changes.
QString item(const char *japanese)
{
    return QCoreApplication::translate("SettingsLists", japanese);
}
} // namespace

const QStringList &type()
{
    static const QStringList l{item(QT_TRANSLATE_NOOP("SettingsLists", "ﾏｽﾀ-")), item(QT_TRANSLATE_NOOP("SettingsLists", "ｽﾚｰﾌﾞ"))};
    return l;
}
const QStringList &antenna()
{
    static const QStringList l{item(QT_TRANSLATE_NOOP("SettingsLists", "ｼﾝｸﾞﾙ")), item(QT_TRANSLATE_NOOP("SettingsLists", "ﾀﾞｲﾊﾞｰｼﾃｨ"))};
    return l;
}
const QStringList &bitRate()
{
    static const QStringList l{QStringLiteral("2400"),  QStringLiteral("4800"),
                               QStringLiteral("9600"),  QStringLiteral("19200"),
                               QStringLiteral("38400"), QStringLiteral("57600"),
                               QStringLiteral("115200")};
    return l;
}
const QStringList &dataLength()
{
    static const QStringList l{QStringLiteral("7"), QStringLiteral("8")};
    return l;
}
const QStringList &parity()
{
    static const QStringList l{item(QT_TRANSLATE_NOOP("SettingsLists", "なし")), item(QT_TRANSLATE_NOOP("SettingsLists", "偶数")),
                               item(QT_TRANSLATE_NOOP("SettingsLists", "奇数"))};
    return l;
}
const QStringList &stopBits()
{
    static const QStringList l{item(QT_TRANSLATE_NOOP("SettingsLists", "1ﾋﾞｯﾄ")), item(QT_TRANSLATE_NOOP("SettingsLists", "2ﾋﾞｯﾄ"))};
    return l;
}
const QStringList &flow()
{
    static const QStringList l{item(QT_TRANSLATE_NOOP("SettingsLists", "なし")), QStringLiteral("RTS/CTS")};
    return l;
}
const QStringList &band()
{
    static const QStringList l{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                               QStringLiteral("3")};
    return l;
}
const QStringList &channel()
{
    static const QStringList l = [] {
        QStringList items;
        for (int c = 0; c <= 23; ++c)
            items << QStringLiteral("%1").arg(c, 2, 10, QLatin1Char('0'));
        return items;
    }();
    return l;
}

QList<const QStringList *> recordLists()
{
    return {&type(), &antenna(), &bitRate(), &dataLength(), &parity(), &stopBits(), &flow()};
}

} // namespace SettingsLists
