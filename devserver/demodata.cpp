// The demo organisation "velmora": two people, a dozen clients whose names
// put search and sorting to the test, reasons and hourly rates.

#include "devserver_p.h"

#include <QRandomGenerator>
#include <chrono>

namespace devserver {

QString randomUrlSafe(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), bytes / 4);
    for (int i = bytes / 4 * 4; i < bytes; ++i)
        raw[i] = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(
        raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

double nowMs() {
    using namespace std::chrono;
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

qint64 steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Data demoData(double now) {
    Data d;
    d.users = {
        {QStringLiteral("u1"), QStringLiteral("Clara Chefin"), QStringLiteral("admin"),
         QString::fromLatin1(DevServer::adminEmail), QString::fromLatin1(DevServer::adminPassword)},
        {QStringLiteral("u2"), QStringLiteral("Max Mitarbeiter"), QStringLiteral("member"),
         QString::fromLatin1(DevServer::memberEmail),
         QString::fromLatin1(DevServer::memberPassword)},
    };

    // Not sorted on purpose: the server's order is the order to show.
    d.clients = {
        {QStringLiteral("c1"), QStringLiteral("Müller GmbH"), 1, 0},
        {QStringLiteral("c2"), QStringLiteral("MÜLLER Logistik"), 1, 0},
        {QStringLiteral("c3"), QStringLiteral("Muller & Co"), 1, 0},
        {QStringLiteral("c4"), QStringLiteral("Bäckerei Schäfer"), 1, 0},
        {QStringLiteral("c5"), QStringLiteral("Öko-Hof Jürgens"), 1, 0},
        {QStringLiteral("c6"), QStringLiteral("Praxis Dr. Weiß"), 1, 0},
        {QStringLiteral("c7"), QStringLiteral("Straßenbau Groß KG"), 1, 0},
        {QStringLiteral("c8"), QStringLiteral("Café Übersee"), 1, 0},
        {QStringLiteral("c9"), QStringLiteral("Autohaus Kühn"), 0, 0},
        {QStringLiteral("c10"), QStringLiteral("Zahnarztpraxis Özdemir"), 1, 1},
        {QStringLiteral("c11"), QStringLiteral("Blumen Fröhlich"), 1, 0},
        {QStringLiteral("c12"), QStringLiteral("Ingenieurbüro Nüßlein"), 1, 0},
    };

    d.reasons = {
        {1, QStringLiteral("Beratung"), 1},  {2, QStringLiteral("Entwicklung"), 1},
        {3, QStringLiteral("Support"), 1},   {4, QStringLiteral("Schulung"), 0},
        {5, QStringLiteral("Reisezeit"), 1},
    };

    // c8 and c11 have no rates at all; c9 is disabled and c10 archived.
    d.rates = {
        {QStringLiteral("c1"), 1, 9550},   {QStringLiteral("c1"), 2, 12000},
        {QStringLiteral("c1"), 3, 8000},   {QStringLiteral("c1"), 4, 9000},
        {QStringLiteral("c2"), 1, 10000},  {QStringLiteral("c2"), 3, 7500},
        {QStringLiteral("c3"), 2, 11000},  {QStringLiteral("c4"), 1, 8500},
        {QStringLiteral("c4"), 3, 6000},   {QStringLiteral("c5"), 3, 7000},
        {QStringLiteral("c6"), 1, 15000},  {QStringLiteral("c6"), 2, 14000},
        {QStringLiteral("c6"), 5, 5000},   {QStringLiteral("c7"), 4, 9800},
        {QStringLiteral("c9"), 1, 9000},   {QStringLiteral("c10"), 1, 9000},
        {QStringLiteral("c12"), 1, 12500}, {QStringLiteral("c12"), 2, 13000},
        {QStringLiteral("c12"), 3, 9900},
    };

    // The member has left a timer running since earlier today.
    Entry e;
    e.id = QStringLiteral("e%1").arg(d.nextEntry++);
    e.userId = QStringLiteral("u2");
    e.clientId = QStringLiteral("c1");
    e.clientName = QStringLiteral("Müller GmbH");
    e.reasonId = 2;
    e.reasonName = QStringLiteral("Entwicklung");
    e.rateCents = 12000;
    e.note = QStringLiteral("Schnittstelle Lohnbuchhaltung");
    e.startedAtMs = now - (1 * 3600 + 23 * 60) * 1000.0;
    d.running.insert(e.userId, e);
    return d;
}

} // namespace devserver
