#include "ui/format.h"

#include <cmath>

QString formatCents(qint64 cents) {
    // QString::number never consults the C or Qt locale.
    return QString::number(static_cast<double>(cents) / 100.0, 'f', 2);
}

QString formatRate(qint64 cents) {
    return formatCents(cents) + QStringLiteral(" € / Std.");
}

QString formatElapsed(double nowSeconds, double startedAtMs) {
    const double elapsed = std::trunc(nowSeconds - startedAtMs / 1000.0);
    // 2^63 is exact as a double; anything at or beyond it would overflow.
    constexpr double limit = 9223372036854775808.0;
    qint64 seconds = 0;
    if (std::isfinite(elapsed) && elapsed > 0 && elapsed < limit)
        seconds = static_cast<qint64>(elapsed);
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(seconds / 3600) + QLatin1Char(':') + two(seconds % 3600 / 60) + QLatin1Char(':') +
           two(seconds % 60);
}
