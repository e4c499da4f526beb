#pragma once

#include <QImage>
#include <QString>

// The link as a QR code: one byte segment of its UTF-8, error correction level
// M exactly, each module 8 x 8 pixels, a quiet zone of 4 modules. Throws
// ServiceError (code 2) when the link does not fit.
QImage renderQrCode(const QString &link);
