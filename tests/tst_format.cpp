// Money and clock texts: the values users read most, and the ones a German
// desktop must not turn into "95,50".

#include "ui/format.h"

#include <QLocale>
#include <QTest>
#include <clocale>
#include <cmath>
#include <limits>

class FormatTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cents_data();
    void cents();
    void elapsed_data();
    void elapsed();
    void germanLocale_data();
    void germanLocale();
    void cleanupTestCase();
};

void FormatTest::cents_data() {
    QTest::addColumn<qint64>("cents");
    QTest::addColumn<QString>("text");
    QTest::newRow("rate") << qint64(9550) << QStringLiteral("95.50");
    QTest::newRow("round") << qint64(12000) << QStringLiteral("120.00");
    QTest::newRow("zero") << qint64(0) << QStringLiteral("0.00");
    QTest::newRow("negative") << qint64(-150) << QStringLiteral("-1.50");
    QTest::newRow("below one") << qint64(5) << QStringLiteral("0.05");
    QTest::newRow("negative below one") << qint64(-5) << QStringLiteral("-0.05");
    QTest::newRow("no thousands separator") << qint64(123456) << QStringLiteral("1234.56");
    QTest::newRow("millions") << qint64(123456789) << QStringLiteral("1234567.89");
}

void FormatTest::cents() {
    QFETCH(qint64, cents);
    QFETCH(QString, text);
    QCOMPARE(formatCents(cents), text);
    QCOMPARE(formatRate(cents), text + QStringLiteral(" € / Std."));
}

void FormatTest::elapsed_data() {
    QTest::addColumn<double>("now");
    QTest::addColumn<double>("startedAt");
    QTest::addColumn<QString>("text");
    const double start = 1'700'000'000'000.0; // ms
    const double s = start / 1000.0;
    QTest::newRow("just started") << s << start << QStringLiteral("00:00:00");
    QTest::newRow("hour, minutes, seconds") << s + 3725 << start << QStringLiteral("01:02:05");
    QTest::newRow("truncated, not rounded") << s + 59.9 << start << QStringLiteral("00:00:59");
    QTest::newRow("a minute") << s + 60 << start << QStringLiteral("00:01:00");
    QTest::newRow("past a day") << s + 90000 << start << QStringLiteral("25:00:00");
    QTest::newRow("hundred hours") << s + 360000 << start << QStringLiteral("100:00:00");
    QTest::newRow("fraction of the start")
        << s + 1.0 << start + 999.0 << QStringLiteral("00:00:00");
    QTest::newRow("started in the future") << s << start + 5000.0 << QStringLiteral("00:00:00");
    QTest::newRow("just before zero") << s - 0.5 << start << QStringLiteral("00:00:00");
    QTest::newRow("start of the epoch") << 3725.0 << 0.0 << QStringLiteral("01:02:05");
    QTest::newRow("NaN start") << s << std::nan("") << QStringLiteral("00:00:00");
    QTest::newRow("infinite past")
        << s << -std::numeric_limits<double>::infinity() << QStringLiteral("00:00:00");
    QTest::newRow("infinite future")
        << s << std::numeric_limits<double>::infinity() << QStringLiteral("00:00:00");
    QTest::newRow("beyond 64 bits") << s << -1e300 << QStringLiteral("00:00:00");
    QTest::newRow("exactly 2^63 s") << 9223372036854775808.0 << 0.0 << QStringLiteral("00:00:00");
    QTest::newRow("largest double")
        << s << -std::numeric_limits<double>::max() << QStringLiteral("00:00:00");
    // Large but within 64 bits: hours are not limited.
    QTest::newRow("a billion seconds") << 1e9 << 0.0 << QStringLiteral("277777:46:40");
}

void FormatTest::elapsed() {
    QFETCH(double, now);
    QFETCH(double, startedAt);
    QFETCH(QString, text);
    QCOMPARE(formatElapsed(now, startedAt), text);
}

void FormatTest::germanLocale_data() {
    QTest::addColumn<QByteArray>("cLocale");
    // de_DE may not be generated on the machine; the Qt default still changes.
    QTest::newRow("de_DE.UTF-8") << QByteArray("de_DE.UTF-8");
    QTest::newRow("de_DE") << QByteArray("de_DE");
}

void FormatTest::germanLocale() {
    QFETCH(QByteArray, cLocale);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, cLocale.constData());
    std::setlocale(LC_NUMERIC, cLocale.constData());
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
    QCOMPARE(formatCents(9550), QStringLiteral("95.50"));
    QCOMPARE(formatCents(-150), QStringLiteral("-1.50"));
    QCOMPARE(formatCents(123456), QStringLiteral("1234.56"));
    QCOMPARE(formatRate(12000), QStringLiteral("120.00 € / Std."));
    QCOMPARE(formatElapsed(1e9, 0.0), QStringLiteral("277777:46:40"));
    QCOMPARE(formatElapsed(360000.0, 0.0), QStringLiteral("100:00:00"));
}

void FormatTest::cleanupTestCase() {
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, "C");
}

QTEST_GUILESS_MAIN(FormatTest)
#include "tst_format.moc"
