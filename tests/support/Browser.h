#pragma once
// A document as a reader gets it: printed to PDF by headless Chromium, its
// text through poppler's pdftotext, a page rendered and its QR codes read
// by zbarimg. The tools are Debian's; a test fails when one is missing.
#include <QByteArray>
#include <QList>
#include <QString>

// Prints `html` (a file) to `pdf`; the tools' complaint, or empty.
QString PrintToPdf(const QString &html, const QString &pdf);
// The PDF's text, pages parted by form feeds.
QString PdfText(const QString &pdf);
// The raw contents of every QR code on page `page` (from 1), rendered at 200
// dpi: one after another, nothing between them.
QByteArray QrCodesOnPage(const QString &pdf, int page);
