// The band and channel as registers 27 and 06 carry them.
#include "protocol/RegisterMap.h"

namespace {
// Band codes of bands 0..4, as register 27 holds them.
constexpr int BandCodes[5] = {1, 3, 4, 5, 6};
} // namespace

std::optional<int> BandOfRegister(const QString &value)
{
    int digits = 0;
    while (digits < value.size() && value[digits] >= u'0' && value[digits] <= u'9')
        ++digits;
    if (digits == 0)
        return std::nullopt;
    const int code = value.left(digits).toInt();
    for (int band = 0; band < 5; ++band)
        if (BandCodes[band] == code)
            return band;
    return std::nullopt;
}

std::optional<int> ChannelOfRegister(const QString &value)
{
    bool ok = false;
    const int channel = value.toInt(&ok, 16) - 0xE0;
    if (!ok || value.size() != 2 || channel < 0 || channel > 23)
        return std::nullopt;
    return channel;
}

QString BandRegisterValue(int band)
{
    return QStringLiteral("%1").arg(BandCodes[band], 2, 10, QLatin1Char('0'));
}

QString ChannelRegisterValue(int channel)
{
    return QString::number(0xE0 + channel, 16).toUpper();
}
