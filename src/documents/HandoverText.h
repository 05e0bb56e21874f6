#pragma once
// The handover document's words and how its values are written, shared by
// its HTML and its diagram.
#include "protocol/UnitConfig.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// `text` safe inside HTML and SVG, in text and in quoted attributes; what
// a page cannot show (control characters) shown as U+FFFD.
QString Esc(const QString &text);
// A handover text from the message table.
QString Text(int n);
// A time as the document gives it: "2026-12-08 09:41 UTC".
QString WhenText(const QDateTime &time);
// master or slave, in the operator's language.
QString RoleText(const UnitRecord &record);
// "band 2 / channel 11".
QString BandChannelText(const UnitRecord &record);
// The serial settings: "9600 bps 8N1", flow control after; what is not known left out.
QString SerialText(const UnitRecord &record);
// A record from settings as entries keep them ("band" = "2", "parity" = "even").
UnitRecord RecordOfSettings(const QJsonObject &settings);
