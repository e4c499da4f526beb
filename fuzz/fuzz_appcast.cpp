// The update feed and version numbers. parseAppcast throws only Failure, with
// a German text; evaluateAppcast never throws and its outcome is consistent;
// version comparison is a proper order on whatever parses.

#include "app/updater.h"
#include "client/failure.h"
#include "rules.h"

using namespace fuzzrules;

namespace {

void checkFeed(const QByteArray &xml) {
    try {
        for (const AppcastItem &item : parseAppcast(xml)) {
            const QUrl download = item.downloadUrl();
            require(download.isEmpty() || download.scheme() == QLatin1String("https") ||
                        download.scheme() == QLatin1String("http"),
                    "download address is not http(s)", download.toString());
        }
    } catch (const Failure &failure) {
        requireGermanText(failure.description());
    }
    const QString current = QStringLiteral("1.4.2");
    const UpdateResult result = evaluateAppcast(xml, current);
    switch (result.outcome) {
    case UpdateResult::Outcome::Failed:
        require(result.errorText.startsWith(
                    QStringLiteral("Die Suche nach Updates ist fehlgeschlagen. ")),
                "failure text lacks its opening", result.errorText);
        requireGermanText(result.errorText);
        break;
    case UpdateResult::Outcome::UpToDate:
        require(result.version == current, "up to date, but with another version", result.version);
        break;
    case UpdateResult::Outcome::NewerAvailable:
        require(!result.version.isEmpty(), "newer version without a name");
        break;
    }
}

void checkVersions(const QString &a, const QString &b) {
    const auto pa = parseVersion(a);
    const auto pb = parseVersion(b);
    if (pa) {
        require(pa->size() == a.count(u'.') + 1, "version has the wrong number of parts", a);
        require(compareVersions(a, a) == 0, "a version differs from itself", a);
    }
    const std::optional<int> ab = compareVersions(a, b);
    const std::optional<int> ba = compareVersions(b, a);
    require(ab.has_value() == (pa && pb), "compared although not both are versions", a + u'|' + b);
    if (ab) {
        require(*ab >= -1 && *ab <= 1 && *ab == -*ba, "comparison is not antisymmetric",
                a + u'|' + b);
        // Trailing zero parts do not count.
        require(compareVersions(a + QStringLiteral(".0"), b) == ab,
                "a trailing .0 changed the order", a + u'|' + b);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] % 2 == 0) {
        checkFeed(rest);
    } else {
        const qsizetype cut = rest.indexOf('\n');
        checkVersions(QString::fromUtf8(cut < 0 ? rest : rest.left(cut)),
                      QString::fromUtf8(cut < 0 ? QByteArray() : rest.mid(cut + 1)));
    }
    return 0;
}
