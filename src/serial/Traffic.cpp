// The traffic hub and how a line is shown.
#include "serial/Traffic.h"

#include <QMetaMethod>

TrafficHub &TrafficHub::instance()
{
    static TrafficHub hub;
    return hub;
}

void TrafficHub::connectNotify(const QMetaMethod &signal)
{
    if (signal == QMetaMethod::fromSignal(&TrafficHub::happened))
        ++m_listeners;
}

void TrafficHub::disconnectNotify(const QMetaMethod &signal)
{
    // Qt passes an invalid method when everything was disconnected at once.
    if (!signal.isValid())
        m_listeners = 0;
    else if (signal == QMetaMethod::fromSignal(&TrafficHub::happened) && m_listeners > 0)
        --m_listeners;
}

QString VisibleLine(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\r')
            out += QStringLiteral("<CR>");
        else if (u == '\n')
            out += QStringLiteral("<LF>");
        else if (u < 0x20 || u == 0x7F || u > 0x7E)
            out += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}
