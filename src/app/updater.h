#pragma once
// The update checker. Reads the appcast (RSS in Sparkle's format) from an
// address fixed at build time, compares the newest offered version with our
// own and tells the user: always when asked, by itself only when a newer
// version exists.

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <optional>

#include <QMessageBox>
class Transport;

// One <item> of the feed.
struct AppcastItem {
    QString version;      // <sparkle:version>, else the enclosure's sparkle:version
    QString shortVersion; // <sparkle:shortVersionString> (element or attribute), may be empty
    QUrl link;            // <link>: the page about this version
    QUrl enclosureUrl;    // <enclosure url=…>: the file itself
    QString os;           // the enclosure's sparkle:os ("macos", "windows", "linux"), may be empty
    // What the user reads as the version.
    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }
    // What "Herunterladen" opens: the page, else the file; http(s) only.
    QUrl downloadUrl() const;
};

struct UpdateResult {
    enum class Outcome { UpToDate, NewerAvailable, Failed };
    Outcome outcome = Outcome::Failed;
    QString version;   // NewerAvailable: the offered version; UpToDate: ours
    QUrl downloadUrl;  // NewerAvailable: may be empty when the feed names no page
    QString errorText; // Failed: what went wrong, in German
};
Q_DECLARE_METATYPE(UpdateResult)

// "1.10.0" -> {1, 10, 0}. Only digits separated by single dots; nothing else.
std::optional<QList<quint32>> parseVersion(QStringView text);
// Negative, zero or positive as a is older, the same as or newer than b;
// missing parts count as 0 ("1.0" == "1.0.0"). Nothing if either is no version.
std::optional<int> compareVersions(QStringView a, QStringView b);
// Every item of the feed in document order. Throws Failure (German text) when
// the text is no readable RSS feed.
QList<AppcastItem> parseAppcast(const QByteArray &xml);
// The outcome of a fetched feed for the running version: the newest item with
// a usable version decides. Never throws.
UpdateResult evaluateAppcast(const QByteArray &xml, const QString &currentVersion);

class Updater : public QObject {
    Q_OBJECT
public:
    explicit Updater(QUrl feedUrl = QUrl(QStringLiteral(VELMORA_APPCAST_URL)),
                     QString currentVersion = QStringLiteral(VELMORA_VERSION),
                     QObject *parent = nullptr);
    ~Updater() override;

    // The automatic checks: one now, then one a day.
    void start();

    // One check; shows nothing and never throws.
    QCoro::Task<UpdateResult> check();

    const QUrl &feedUrl() const { return m_feedUrl; }
    const QString &currentVersion() const { return m_currentVersion; }
    bool isChecking() const { return m_checking; }
    // The window showing the last outcome while it is open, else null.
    QMessageBox *outcomeWindow() const { return m_window; }

public Q_SLOTS:
    // The panel's "Auf Updates prüfen …": check now and show the outcome.
    void checkForUpdates();

Q_SIGNALS:
    // After every check; `shown` says whether the outcome window opened.
    void checkFinished(const UpdateResult &result, bool shown);

private:
    QCoro::Task<> runCheck(bool interactive);
    void showOutcome(const UpdateResult &result);

    QUrl m_feedUrl;
    QString m_currentVersion;
    Transport *m_transport;
    QTimer m_daily;
    QPointer<QMessageBox> m_window;
    bool m_checking = false;
    bool m_showWhenDone = false;
};
