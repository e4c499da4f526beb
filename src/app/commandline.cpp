#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
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
    const QCommandLineOption start(
        QStringLiteral("start"),
        QStringLiteral("Startet über die laufende App einen Timer für KUNDE und GRUND, oder "
                       "wechselt zu ihnen (ein laufender Timer wird gestoppt). Ohne Namen: das "
                       "zuletzt genutzte Paar; ohne GRUND: der zuletzt mit KUNDE genutzte oder "
                       "sein einziger. Groß- und Kleinschreibung und Akzente zählen nicht, ein "
                       "eindeutiger Anfang genügt. Exit-Code 0: gestartet, 2: kein oder mehr als "
                       "ein Name passt, 3: die App läuft nicht oder ist nicht angemeldet, 4: der "
                       "Server lehnte ab."));
    const QCommandLineOption note(QStringLiteral("note"),
                                  QStringLiteral("Mit --start: die Notiz zum Timer."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption toggle(
        QStringLiteral("toggle"),
        QStringLiteral("Stoppt den laufenden Timer, sonst startet es das zuletzt genutzte Paar "
                       "(für ein Tastenkürzel)."));
    const QCommandLineOption recent(
        QStringLiteral("recent"),
        QStringLiteral("Zeigt die zuletzt genutzten Paare aus Kunde und Grund, das neueste "
                       "zuerst."));
    parser.addOptions(
        {help, version, hidden, verbose, status, json, stop, start, note, toggle, recent});
    parser.addPositionalArgument(QStringLiteral("KUNDE"), QStringLiteral("Mit --start: der Kunde."),
                                 QStringLiteral("[KUNDE"));
    parser.addPositionalArgument(QStringLiteral("GRUND"), QStringLiteral("Mit --start: der Grund."),
                                 QStringLiteral("[GRUND]]"));

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
    } else if (const QStringList names = parser.positionalArguments();
               names.size() > (parser.isSet(start) ? 2 : 0)) {
        result.exitCode = fail(QStringLiteral("Unerwartetes Argument „%1“.")
                                   .arg(names.value(parser.isSet(start) ? 2 : 0)));
    } else if (int(parser.isSet(status)) + parser.isSet(stop) + parser.isSet(start) +
                   parser.isSet(toggle) + parser.isSet(recent) >
               1) {
        result.exitCode =
            fail(QStringLiteral("--status, --stop, --start, --toggle und --recent gehen nur "
                                "einzeln."));
    } else if (parser.isSet(json) && !parser.isSet(status) && !parser.isSet(recent)) {
        result.exitCode =
            fail(QStringLiteral("--json gilt nur zusammen mit --status oder --recent."));
    } else if (parser.isSet(note) && !parser.isSet(start)) {
        result.exitCode = fail(QStringLiteral("--note gilt nur zusammen mit --start."));
    } else {
        if (parser.isSet(status)) {
            result.instanceCommand = parser.isSet(json) ? "status-json" : "status";
        } else if (parser.isSet(recent)) {
            result.instanceCommand = parser.isSet(json) ? "recent-json" : "recent";
        } else if (parser.isSet(stop)) {
            result.instanceCommand = "stop";
        } else if (parser.isSet(toggle)) {
            result.instanceCommand = "toggle";
        } else if (parser.isSet(start)) {
            // One line: JSON escapes line breaks in the names and the note.
            QJsonObject request;
            if (!names.isEmpty())
                request.insert(QStringLiteral("client"), names[0]);
            if (names.size() > 1)
                request.insert(QStringLiteral("reason"), names[1]);
            if (parser.isSet(note))
                request.insert(QStringLiteral("note"), parser.value(note));
            result.instanceCommand =
                "start " + QJsonDocument(request).toJson(QJsonDocument::Compact);
        }
        result.hidden = parser.isSet(hidden);
        result.verbose = parser.isSet(verbose);
    }
    return result;
}
