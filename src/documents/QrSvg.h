#pragma once
// A QR code as SVG rectangles: dark runs of modules, a quiet zone of four
// modules around them, crisp at any print size. Made with libqrencode.

#include <QByteArray>
#include <QString>

// The code of `data` (bytes as they are, error correction M) drawn with
// modules of `modulePx` CSS pixels; empty when it cannot hold that much.
QString QrSvg(const QByteArray &data, int modulePx);
