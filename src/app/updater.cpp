#include "app/updater.h"

#include "client/endpoint.h"
#include "client/failure.h"
#include "client/logging.h"
#include "client/transport.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkRequest>
#include <QPushButton>
#include <QXmlStreamReader>
#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr auto sparkleNamespace =
    QLatin1String("http://www.andymatuschak.org/xml-namespaces/sparkle");

// A feed is a few kilobytes; anything near this is not ours.
constexpr qint64 maxFeedBytes = 1024 * 1024;

bool isWebUrl(const QUrl &url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

// The same rule as for the time server's address: https anywhere, plain
// http only to this machine; and a feed needs a host to ask.
bool isUsableFeedUrl(const QUrl &url) {
    return !url.host().isEmpty() && resolveEndpoint(url.toString(QUrl::FullyEncoded));
}

UpdateResult failed(const QString &why) {
    QString text = why.trimmed();
    if (!text.isEmpty() && !text.endsWith(u'.') && !text.endsWith(u'!') && !text.endsWith(u'?'))
        text += u'.';
    UpdateResult result;
    result.outcome = UpdateResult::Outcome::Failed;
    result.errorText = QStringLiteral("Die Suche nach Updates ist fehlgeschlagen. ") + text;
    return result;
}

AppcastItem readItem(QXmlStreamReader &reader) {
    AppcastItem item;
    QString enclosureVersion;
    QString enclosureShortVersion;
    while (reader.readNextStartElement()) {
        const bool sparkle = reader.namespaceUri() == sparkleNamespace;
        const bool plain = reader.namespaceUri().isEmpty();
        const QStringView name = reader.name();
        if (sparkle && name == u"version") {
            item.version = reader.readElementText().trimmed();
        } else if (sparkle && name == u"shortVersionString") {
            item.shortVersion = reader.readElementText().trimmed();
        } else if (plain && name == u"link") {
            item.link = QUrl(reader.readElementText().trimmed(), QUrl::StrictMode);
        } else if (plain && name == u"enclosure") {
            const QXmlStreamAttributes attributes = reader.attributes();
            item.enclosureUrl =
                QUrl(attributes.value(QLatin1String("url")).toString().trimmed(), QUrl::StrictMode);
            enclosureVersion =
                attributes.value(sparkleNamespace, QLatin1String("version")).toString().trimmed();
            enclosureShortVersion =
                attributes.value(sparkleNamespace, QLatin1String("shortVersionString"))
                    .toString()
                    .trimmed();
            item.os = attributes.value(sparkleNamespace, QLatin1String("os")).toString().trimmed();
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    // The elements win over the enclosure's attributes, whatever their order.
    if (item.version.isEmpty())
        item.version = enclosureVersion;
    if (item.shortVersion.isEmpty())
        item.shortVersion = enclosureShortVersion;
    return item;
}

} // namespace

QUrl AppcastItem::downloadUrl() const {
    if (isWebUrl(link))
        return link;
    if (isWebUrl(enclosureUrl))
        return enclosureUrl;
    return {};
}

std::optional<QList<quint32>> parseVersion(QStringView text) {
    QList<quint32> parts;
    for (const QStringView part : text.split(u'.')) {
        // Nine digits always fit; real versions never come close.
        if (part.isEmpty() || part.size() > 9)
            return std::nullopt;
        quint32 value = 0;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + static_cast<quint32>(c.unicode() - u'0');
        }
        parts.append(value);
    }
    return parts;
}

std::optional<int> compareVersions(QStringView a, QStringView b) {
    const auto left = parseVersion(a);
    const auto right = parseVersion(b);
    if (!left || !right)
        return std::nullopt;
    const qsizetype count = std::max(left->size(), right->size());
    for (qsizetype i = 0; i < count; ++i) {
        const quint32 l = i < left->size() ? left->at(i) : 0;
        const quint32 r = i < right->size() ? right->at(i) : 0;
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}

QList<AppcastItem> parseAppcast(const QByteArray &xml) {
    QXmlStreamReader reader(xml);
    QList<AppcastItem> items;
    bool isRss = false;
    if (reader.readNextStartElement()) {
        isRss = reader.name() == u"rss" && reader.namespaceUri().isEmpty();
        if (isRss) {
            while (reader.readNextStartElement()) {
                if (reader.name() != u"channel") {
                    reader.skipCurrentElement();
                    continue;
                }
                while (reader.readNextStartElement()) {
                    if (reader.name() == u"item")
                        items.append(readItem(reader));
                    else
                        reader.skipCurrentElement();
                }
            }
        }
    }
    // Read to the end, so that anything broken after the feed counts too.
    while (isRss && !reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        throw Failure(
            QStringLiteral("Die Update-Informationen sind kein gültiges XML (Zeile %1, Spalte %2).")
                .arg(reader.lineNumber())
                .arg(reader.columnNumber()));
    if (!isRss)
        throw Failure(QStringLiteral("Die Update-Informationen sind kein RSS-Feed."));
    return items;
}

UpdateResult evaluateAppcast(const QByteArray &xml, const QString &currentVersion) {
    QList<AppcastItem> items;
    try {
        items = parseAppcast(xml);
    } catch (const Failure &failure) {
        return failed(failure.description());
    }
    const AppcastItem *newest = nullptr;
    for (const AppcastItem &item : std::as_const(items)) {
        if (!parseVersion(item.version))
            continue; // an item we cannot compare is no offer
        // A feed shared with other systems marks their files; ours are
        // "linux" or unmarked.
        if (!item.os.isEmpty() && item.os.compare(u"linux", Qt::CaseInsensitive) != 0)
            continue;
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = &item;
    }
    if (!newest)
        return failed(
            items.isEmpty()
                ? QStringLiteral("Die Update-Informationen enthalten keine Version.")
                : QStringLiteral(
                      "Die Update-Informationen enthalten keine gültige Versionsnummer."));
    const std::optional<int> order = compareVersions(newest->version, currentVersion);
    if (!order)
        return failed(
            QStringLiteral("Die eigene Versionsnummer „%1“ ist ungültig.").arg(currentVersion));
    UpdateResult result;
    if (*order > 0) {
        result.outcome = UpdateResult::Outcome::NewerAvailable;
        result.version = newest->displayVersion();
        result.downloadUrl = newest->downloadUrl();
    } else {
        result.outcome = UpdateResult::Outcome::UpToDate;
        result.version = currentVersion;
    }
    return result;
}

Updater::Updater(QUrl feedUrl, QString currentVersion, QObject *parent)
    : QObject(parent)
    , m_feedUrl(std::move(feedUrl))
    , m_currentVersion(std::move(currentVersion))
    , m_transport(new Transport(this)) {
    qRegisterMetaType<UpdateResult>();
    m_transport->limits.idleTimeout = 15s;
    m_transport->limits.deadline = 30s;
    m_transport->limits.maxBodyBytes = maxFeedBytes;
    m_daily.setInterval(24h);
    connect(&m_daily, &QTimer::timeout, this, [this] {
        if (!m_checking)
            runCheck(false);
    });
}

Updater::~Updater() {
    if (m_window)
        delete m_window.data();
}

void Updater::start() {
    if (!m_checking)
        runCheck(false);
    m_daily.start();
}

void Updater::checkForUpdates() {
    // One request at a time; the running one shows its outcome instead.
    if (m_checking) {
        m_showWhenDone = true;
        return;
    }
    runCheck(true);
}

QCoro::Task<UpdateResult> Updater::check() {
    const QUrl url = m_feedUrl;
    const QString currentVersion = m_currentVersion;
    if (url.isEmpty())
        co_return failed(QStringLiteral("Es ist keine Update-Adresse eingerichtet."));
    if (!isUsableFeedUrl(url))
        co_return failed(
            QStringLiteral("Die Update-Adresse „%1“ ist nicht erlaubt: nur https, http nur zu "
                           "diesem Rechner.")
                .arg(url.toDisplayString()));

    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/rss+xml, application/xml;q=0.9, text/xml;q=0.8");
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("VelmoraTime/%1").arg(currentVersion));
    try {
        const HttpAnswer answer = co_await m_transport->send(request, "GET", std::nullopt);
        if (answer.status < 200 || answer.status > 299)
            co_return failed(QStringLiteral("Serverfehler %1").arg(answer.status));
        const UpdateResult result = evaluateAppcast(answer.body, currentVersion);
        qCInfo(lcUpdate) << "feed read, outcome" << int(result.outcome);
        co_return result;
    } catch (const std::exception &e) {
        qCInfo(lcUpdate).noquote() << "check failed:" << failureText(e);
        co_return failed(failureText(e));
    }
}

QCoro::Task<> Updater::runCheck(bool interactive) {
    m_checking = true;
    const QPointer<Updater> self(this);
    const UpdateResult result = co_await check();
    if (!self)
        co_return;
    m_checking = false;
    const bool show =
        interactive || m_showWhenDone || result.outcome == UpdateResult::Outcome::NewerAvailable;
    m_showWhenDone = false;
    if (show)
        showOutcome(result);
    Q_EMIT checkFinished(result, show);
}

void Updater::showOutcome(const UpdateResult &result) {
    // One outcome window at a time: the newest replaces an older one.
    if (m_window)
        m_window->close();

    auto *box = new QMessageBox;
    box->setObjectName(QStringLiteral("updateOutcome"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setWindowTitle(QStringLiteral("velmora Zeit"));
    switch (result.outcome) {
    case UpdateResult::Outcome::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("VelmoraTime ist auf dem neuesten Stand (Version %1).")
                         .arg(result.version));
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case UpdateResult::Outcome::NewerAvailable: {
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("Version %1 ist verfügbar.").arg(result.version));
        box->setInformativeText(QStringLiteral("Sie verwenden Version %1.").arg(m_currentVersion));
        if (result.downloadUrl.isValid()) {
            QPushButton *download =
                box->addButton(QStringLiteral("Herunterladen"), QMessageBox::AcceptRole);
            box->addButton(QStringLiteral("Später"), QMessageBox::RejectRole);
            box->setDefaultButton(download);
            const QUrl url = result.downloadUrl;
            connect(box, &QMessageBox::buttonClicked, box, [download, url](QAbstractButton *b) {
                if (b == download)
                    QDesktopServices::openUrl(url);
            });
        } else {
            box->setStandardButtons(QMessageBox::Ok);
        }
        break;
    }
    case UpdateResult::Outcome::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(result.errorText);
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    m_window = box;
    box->show();
    box->raise();
    box->activateWindow();
}
