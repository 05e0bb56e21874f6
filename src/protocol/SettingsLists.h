#pragma once
// The item lists of the radio settings screen. Their order is part of the
// settings record: the unit sends and takes list positions, counting from 0.

#include <QStringList>

namespace SettingsLists {
const QStringList &type();     // operating type
const QStringList &antenna();
const QStringList &bitRate();
const QStringList &dataLength();
const QStringList &parity();
const QStringList &stopBits();
const QStringList &flow();
const QStringList &band();    // "0".."3"
const QStringList &channel(); // "00".."23"

// The seven list settings in record order.
QList<const QStringList *> recordLists();
} // namespace SettingsLists
