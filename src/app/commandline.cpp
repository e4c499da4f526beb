#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTranslator>
#include <cstdio>

namespace {

constexpr int usageError = 2;

// The parser's own texts ("Usage:", its error messages) in German, so that
// the output does not depend on Qt's catalogue being installed.
class ParserTexts : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *,
                      int) const override {
        if (qstrcmp(context, "QCommandLineParser") != 0)
            return {};
        static const QHash<QByteArray, QString> german = {
            {"Usage: %1", QStringLiteral("Aufruf: %1")},
            {"[options]", QStringLiteral("[Optionen]")},
            {"Options:", QStringLiteral("Optionen:")},
            {"Arguments:", QStringLiteral("Argumente:")},
            {"Missing value after '%1'.", QStringLiteral("Nach „%1“ fehlt ein Wert.")},
            {"Unexpected value after '%1'.", QStringLiteral("„%1“ nimmt keinen Wert an.")},
        };
        return german.value(QByteArray(sourceText));
    }
};

void print(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int fail(const QString &why) {
    print(stderr,
          QStringLiteral("velmora-time: %1\nAlle Optionen: velmora-time --help\n").arg(why));
    return usageError;
}

// Qt's own options, left to QApplication: with a value, and without.
const QStringList qtOptionsWithValue{
    QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"), QStringLiteral("plugin"),
    QStringLiteral("display"),       QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"),   QStringLiteral("qwindowtitle"),
    QStringLiteral("style"),         QStringLiteral("stylesheet"),
    QStringLiteral("session")};
const QStringList qtSwitches{QStringLiteral("reverse"), QStringLiteral("nograb"),
                             QStringLiteral("dograb"), QStringLiteral("sync"),
                             QStringLiteral("widgetcount")};

// The arguments without Qt's options; `platform` tells whether -platform was one.
QStringList withoutQtOptions(const QStringList &arguments, bool *platform) {
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        QString name = word;
        while (name.startsWith(u'-'))
            name.remove(0, 1);
        const QString bare = name.section(u'=', 0, 0);
        if (i == 0 || !word.startsWith(u'-') || word == QLatin1String("--")) {
            ours << word;
        } else if (qtOptionsWithValue.contains(bare)) {
            *platform = *platform || bare == QLatin1String("platform");
            if (!name.contains(u'='))
                ++i; // its value
        } else if (!qtSwitches.contains(bare)) {
            ours << word;
        }
    }
    return ours;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments) {
    ParserTexts texts;
    QCoreApplication::installTranslator(&texts);
    const auto removeTexts = qScopeGuard([&texts] { QCoreApplication::removeTranslator(&texts); });

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("velmora Zeit: Projektzeit starten und stoppen, aus dem Infobereich. Die "
                       "App endet mit „Beenden“; ohne Infobereich auch, wenn ihr Fenster "
                       "geschlossen wird."));
    // Our own help and version options: Qt's describe themselves in English.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Zeigt diese Hilfe an."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Zeigt die Version an."));
    const QCommandLineOption hidden(
        QStringLiteral("hidden"),
        QStringLiteral("Startet, ohne das Fenster zu öffnen, und wartet länger auf den "
                       "Infobereich (für den Start beim Anmelden)."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Schreibt ausführlich ins Protokoll (stderr), was die App tut; nie "
                       "Passwörter, Tokens oder Einrichtungscodes."));
    const QCommandLineOption status(
        QStringLiteral("status"),
        QStringLiteral("Zeigt den laufenden Timer der laufenden App an. Exit-Code 0: ein Timer "
                       "läuft, 1: keiner, 3: die App läuft nicht oder ist nicht angemeldet."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Mit --status: als JSON-Objekt."));
    const QCommandLineOption stop(
        QStringLiteral("stop"),
        QStringLiteral("Stoppt den laufenden Timer über die laufende App (wartet eine laufende "
                       "Aktion ab). Exit-Code 0: gestoppt, 1: kein Timer lief, 3: die App läuft "
                       "nicht, 4: der Server lehnte ab."));
    parser.addOptions({help, version, hidden, verbose, status, json, stop});

    // "-bogus" is named whole in the error, not taken as -b -o -g …
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    CommandLine result;
    if (!parser.parse(withoutQtOptions(arguments, &result.platformChosen))) {
        // Named as typed; the parser drops the dashes.
        QStringList unknown = parser.unknownOptionNames();
        for (QString &name : unknown)
            name = (name.size() == 1 ? QStringLiteral("„-") : QStringLiteral("„--")) + name +
                   QStringLiteral("“");
        result.exitCode = fail(unknown.isEmpty() ? parser.errorText()
                                                 : (unknown.size() == 1
                                                        ? QStringLiteral("Unbekannte Option %1.")
                                                        : QStringLiteral("Unbekannte Optionen %1."))
                                                       .arg(unknown.join(u", ")));
    } else if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        result.exitCode = 0;
    } else if (parser.isSet(version)) {
        print(stdout,
              QStringLiteral("velmora-time %1\n").arg(QCoreApplication::applicationVersion()));
        result.exitCode = 0;
    } else if (!parser.positionalArguments().isEmpty()) {
        result.exitCode = fail(QStringLiteral("Unerwartetes Argument „%1“.")
                                   .arg(parser.positionalArguments().constFirst()));
    } else if (parser.isSet(status) && parser.isSet(stop)) {
        result.exitCode = fail(QStringLiteral("--status und --stop gehen nur einzeln."));
    } else if (parser.isSet(json) && !parser.isSet(status)) {
        result.exitCode = fail(QStringLiteral("--json gilt nur zusammen mit --status."));
    } else {
        if (parser.isSet(status))
            result.instanceCommand = parser.isSet(json) ? "status-json" : "status";
        else if (parser.isSet(stop))
            result.instanceCommand = "stop";
        result.hidden = parser.isSet(hidden);
        result.verbose = parser.isSet(verbose);
    }
    return result;
}
