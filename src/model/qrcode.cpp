#include "model/qrcode.h"

#include "client/failure.h"

#include <qrcodegen/qrcodegen.hpp>

namespace {
constexpr int modulePixels = 8;
constexpr int quietZone = 4;
} // namespace

QImage renderQrCode(const QString &link) {
    const QByteArray utf8 = link.toUtf8();
    const std::vector<std::uint8_t> bytes(utf8.cbegin(), utf8.cend());
    try {
        const std::vector<qrcodegen::QrSegment> segments{qrcodegen::QrSegment::makeBytes(bytes)};
        const qrcodegen::QrCode code = qrcodegen::QrCode::encodeSegments(
            segments, qrcodegen::QrCode::Ecc::MEDIUM, qrcodegen::QrCode::MIN_VERSION,
            qrcodegen::QrCode::MAX_VERSION, -1, /*boostEcl=*/false);
        const int modules = code.getSize() + 2 * quietZone;
        QImage image(modules * modulePixels, modules * modulePixels, QImage::Format_Grayscale8);
        image.fill(255);
        for (int y = 0; y < code.getSize(); ++y) {
            for (int x = 0; x < code.getSize(); ++x) {
                if (!code.getModule(x, y)) {
                    continue;
                }
                for (int py = 0; py < modulePixels; ++py) {
                    uchar *line = image.scanLine((y + quietZone) * modulePixels + py);
                    std::fill_n(line + (x + quietZone) * modulePixels, modulePixels, uchar(0));
                }
            }
        }
        return image;
    } catch (const std::exception &) {
        // qrcodegen::data_too_long, or no memory for the image.
    }
    throw ServiceError(2, QStringLiteral("QR-Code konnte nicht erstellt werden."));
}
