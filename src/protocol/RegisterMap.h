#pragma once
// What the unit keeps in its registers besides the settings record: the band
// in register 27 and the channel in register 06. One place for that meaning;
// the settings screen, the configuration files and their checks use it.

#include <QString>
#include <optional>

constexpr int ChannelRegister = 6;
constexpr int BandRegister = 27;

// The band 0..4 a register 27 value stands for: its leading decimal digits
// are the band code 1, 3, 4, 5 or 6 ("1A" reads as 1); nothing otherwise.
std::optional<int> BandOfRegister(const QString &value);
// The channel 0..23 a register 06 value stands for: E0 + channel, two
// hexadecimal digits; nothing otherwise.
std::optional<int> ChannelOfRegister(const QString &value);
// The register values a band and a channel are kept as ("03", "E5").
QString BandRegisterValue(int band);
QString ChannelRegisterValue(int channel);
