#pragma once
// Money and clock texts of the panel. Pure and locale-independent: a German
// desktop still gets a full stop and no thousands separator.

#include <QString>
#include <QtGlobal>

// Cents as "%.2f" of cents / 100: 9550 -> "95.50", -150 -> "-1.50".
QString formatCents(qint64 cents);
// "95.50 € / Std."
QString formatRate(qint64 cents);
// Whole seconds from `startedAtMs` (ms since the epoch) to `nowSeconds` (s
// since the epoch) as h:mm:ss with unbounded hours. Truncated toward zero; a
// start in the future, NaN, infinity or anything beyond 64 bits shows
// "00:00:00".
QString formatElapsed(double nowSeconds, double startedAtMs);
