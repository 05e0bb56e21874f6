// QR codes through libqrencode, drawn as SVG rectangles.
#include "documents/QrSvg.h"

#include <memory>
#include <qrencode.h>

QString QrSvg(const QByteArray &data, int modulePx)
{
    constexpr int Quiet = 4; // the quiet zone readers need, in modules
    // Eight-bit mode takes the bytes as given: UTF-8 text comes back byte for byte.
    std::unique_ptr<QRcode, void (*)(QRcode *)> code(
        QRcode_encodeData(int(data.size()), reinterpret_cast<const unsigned char *>(data.constData()), 0,
                          QR_ECLEVEL_M),
        QRcode_free);
    if (!code)
        return QString();
    const int width = code->width;
    const int side = (width + 2 * Quiet) * modulePx;
    QString svg = QStringLiteral("<svg class=\"qr\" width=\"%1\" height=\"%1\" "
                                 "viewBox=\"0 0 %2 %2\" shape-rendering=\"crispEdges\">"
                                 "<rect width=\"%2\" height=\"%2\" fill=\"#fff\"/>")
                      .arg(side)
                      .arg(width + 2 * Quiet);
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width;) {
            if (!(code->data[y * width + x] & 1)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && (code->data[y * width + x] & 1))
                ++x;
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"1\"/>")
                       .arg(start + Quiet)
                       .arg(y + Quiet)
                       .arg(x - start);
        }
    }
    return svg + QStringLiteral("</svg>");
}
