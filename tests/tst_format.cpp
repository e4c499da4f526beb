// Money and clock texts, in C and on a German desktop, which must not turn
// 95.50 into 95,50 (Qt's default locale changes even without de_DE installed).

#include "testsupport.h"
#include "ui/format.h"

#include <QLocale>
#include <QTest>
#include <clocale>

static void useLocale(bool german) {
    QLocale::setDefault(german ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
    std::setlocale(LC_ALL, german ? "de_DE.UTF-8" : "C");
}

struct Elapsed {
    const char *name;
    double now;       // s
    double startedAt; // ms
    const char *text;
};

class FormatTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cents_data();
    void cents();
    void elapsed_data();
    void elapsed();
};

void FormatTest::cents_data() {
    QTest::addColumn<qint64>("cents");
    QTest::addColumn<QString>("text");
    QTest::newRow("rate") << qint64(9550) << QStringLiteral("95.50");
    QTest::newRow("minus below one") << qint64(-5) << QStringLiteral("-0.05");
    QTest::newRow("no thousands separator") << qint64(123456) << QStringLiteral("1234.56");
}

void FormatTest::cents() {
    QFETCH(qint64, cents);
    QFETCH(QString, text);
    for (const bool german : {false, true}) {
        useLocale(german);
        QCOMPARE(QLocale().decimalPoint(), german ? QStringLiteral(",") : QStringLiteral("."));
        QCOMPARE(formatRate(cents), text + QStringLiteral(" € / Std."));
    }
}

void FormatTest::elapsed_data() {
    const double ms = 1'700'000'000'000.0, s = ms / 1000.0;
    testsupport::rows<Elapsed>({{"3725 s", s + 3725, ms, "01:02:05"},
                                {"59.9 s, truncated", s + 59.9, ms, "00:00:59"},
                                {"100 h", s + 360000, ms, "100:00:00"},
                                {"future", s, ms + 5000, "00:00:00"},
                                {"startedAt too large", s, 1e300, "00:00:00"},
                                {"beyond 64 bits", s, -1e300, "00:00:00"}});
}

void FormatTest::elapsed() {
    FETCH_ROW(Elapsed);
    for (const bool german : {false, true}) {
        useLocale(german);
        QCOMPARE(formatElapsed(row.now, row.startedAt), QString::fromUtf8(row.text));
    }
}

QTEST_GUILESS_MAIN(FormatTest)
#include "tst_format.moc"
