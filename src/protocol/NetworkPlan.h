#pragma once
// A network plan: what a master and its slaves share (band, channel, the
// serial settings) and each unit by name, with its port and its role.
//
//   [network]            format = 1, band, channel, serial settings for all
//   [node NAME]          type = master|slave, port = COMn|device, overrides
#include "protocol/UnitConfig.h"

#include <QList>
#include <QString>
#include <optional>

struct NetworkUnit {
    QString name;
    QString port;      // COMn or a device path; empty: chosen at set-up
    UnitRecord record; // the whole record this unit is to hold
    int line = 0;      // its section's line, for messages
};

struct NetworkPlan {
    UnitRecord shared; // [network]
    QString site;      // [network] site =, for the site book; may be empty
    QList<NetworkUnit> units;
};

namespace NetworkMessages {
constexpr int NoMaster = 133;     // no unit is a master
constexpr int TwoMasters = 134;   // more than one unit is a master
constexpr int NetworkField = 135; // band and channel belong to [network]
constexpr int NoUnits = 136;      // no [node NAME] section
constexpr int NoBandChannel = 137; // [network] lacks band or channel
constexpr int BracketInName = 231; // a unit's name cannot contain ]
} // namespace NetworkMessages

// The form in which two unit names are one name to a person: NFKC, then
// case folded (µ and μ, Ａ and a are one).
QString NetworkNameKey(const QString &name);

// Refused with the line and the reason, as a configuration file is.
std::optional<NetworkPlan> ParseNetworkPlan(const QString &text, ConfigFileError *error);
std::optional<NetworkPlan> ReadNetworkPlan(const QString &path, ConfigFileError *error);

// The plan's text with the unit's port set (or taken out when empty), every
// other line, comments included, as it was.
QString SetUnitPortInPlan(const QString &text, const QString &unitName, const QString &port);
