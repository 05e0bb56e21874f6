// The handover document's words, and its checks across the units.
#include "documents/Handover.h"
#include "documents/HandoverText.h"

#include "core/AppState.h"

#include <QMap>

QString Esc(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if ((c.unicode() < 0x20 && c != u'\n' && c != u'\t') || (c.unicode() >= 0x7f && c.unicode() < 0xa0)
            || c.category() == QChar::Other_Format || c.isNonCharacter())
            c = QChar::ReplacementCharacter;
    return out.toHtmlEscaped();
}

QString Text(int n)
{
    return app().message(n);
}

QString WhenText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
}

QString RoleText(const UnitRecord &record)
{
    return Text(record.lists[0] == QLatin1Char('0') ? HandoverMessages::Master : HandoverMessages::Slave);
}

QString BandChannelText(const UnitRecord &record)
{
    return QStringLiteral("%1 %2 / %3 %4")
        .arg(Text(HandoverMessages::Band), record.band ? QString(*record.band) : QStringLiteral("-"),
             Text(HandoverMessages::Channel), record.channel ? QString::number(*record.channel) : QStringLiteral("-"));
}

QString SerialText(const UnitRecord &record)
{
    // As a serial line is usually written: "9600 bps 8N1", then the flow control.
    const auto item = [&](int list) {
        const auto &l = record.lists[size_t(list)];
        return l ? RecordItemName(list, *l) : QString();
    };
    if (item(2).isEmpty() || item(3).isEmpty() || item(4).isEmpty() || item(5).isEmpty())
        return item(2).isEmpty() ? QString() : item(2) + QStringLiteral(" bps");
    QString text = QStringLiteral("%1 bps %2%3%4").arg(item(2), item(3), item(4).left(1).toUpper(), item(5));
    if (record.lists[6] && *record.lists[6] != QLatin1Char('0'))
        text += QLatin1Char(' ') + item(6).toUpper().replace(u'-', u'/');
    return text;
}

UnitRecord RecordOfSettings(const QJsonObject &settings)
{
    const auto value = [&](const QString &key) { return settings.value(key).toVariant().toString(); };
    UnitRecord r;
    if (value(QStringLiteral("band")).size() == 1)
        r.band = value(QStringLiteral("band")).at(0);
    bool ok = false;
    if (const int channel = value(QStringLiteral("channel")).toInt(&ok); ok)
        r.channel = channel;
    for (int list = 0; list < UnitRecord::Lists; ++list)
        if (const int at = int(RecordItemNames(list).indexOf(value(RecordKey(list)))); at >= 0 && at < 16)
            r.lists[size_t(list)] = QLatin1Char("0123456789ABCDEF"[at]);
    return r;
}

QString HandoverStateText(HandoverUnit::State state)
{
    return Text(HandoverMessages::FirstState + state);
}

QStringList HandoverChecks(const Handover &h)
{
    using namespace HandoverMessages;
    QStringList masters;
    QMap<QString, QStringList> bandChannels; // "band 2 / channel 11" -> the units holding it
    for (const HandoverUnit &u : h.units) {
        const QJsonObject read = u.held();
        if (read.isEmpty())
            continue; // nothing read to check
        const auto held = [&](const QString &key) { return read.value(key).toVariant().toString(); };
        if (held(RecordKey(0)) == RecordItemName(0, QLatin1Char('0')))
            masters << u.planned.name;
        bandChannels[QStringLiteral("%1 %2 / %3 %4")
                         .arg(Text(Band), held(QStringLiteral("band")), Text(Channel), held(QStringLiteral("channel")))]
            << u.planned.name;
    }
    QStringList held;
    for (auto it = bandChannels.cbegin(); it != bandChannels.cend(); ++it)
        held << (bandChannels.size() == 1 ? it.key() : it.key() + QStringLiteral(": ") + it.value().join(QStringLiteral(", ")));
    const auto yesNo = [](bool ok) { return Text(ok ? Yes : No); };
    return {QStringLiteral("%1 %2 (%3)").arg(Text(OneMaster), yesNo(masters.size() == 1),
                                             masters.isEmpty() ? QStringLiteral("-") : masters.join(QStringLiteral(", "))),
            QStringLiteral("%1 %2 (%3)").arg(Text(OneBandChannel), yesNo(bandChannels.size() == 1),
                                             held.isEmpty() ? QStringLiteral("-") : held.join(QStringLiteral("; ")))};
}
