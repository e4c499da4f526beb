#pragma once
// What every fuzz target checks besides "no crash": a broken rule aborts
// with its name, so libFuzzer keeps the input.

#include <QRegularExpression>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace fuzzrules {

[[noreturn]] inline void broken(const char *rule, const QString &detail = {}) {
    std::fprintf(stderr, "rule broken: %s\n%s\n", rule, detail.toUtf8().constData());
    std::abort();
}

inline void require(bool ok, const char *rule, const QString &detail = {}) {
    if (!ok)
        broken(rule, detail);
}

// A text the user reads: not empty, proper Unicode, and German. Quoted parts
// („…“) may echo the input and are left out of the language check.
inline void requireGermanText(const QString &text) {
    require(!text.trimmed().isEmpty(), "failure text is empty");
    require(QStringView(text).isValidUtf16(), "failure text is no valid UTF-16", text);
    static const QRegularExpression quoted(QStringLiteral("„[^“]*“"));
    const QString own = QString(text).remove(quoted);
    static const QRegularExpression german(
        QStringLiteral("\\b(der|die|das|des|dem|den|ist|sind|nicht|kein|keine|keinen|muss|fehlt|"
                       "Antwort|Server|Servers|ungültig|Ungültige|ungültige|gültiges|Fehler|"
                       "abgeschlossen|unzulässige|unzulässiger|Zahl|Text|Liste|Objekt)\\b"));
    static const QRegularExpression english(
        QStringLiteral("\\b(the|error|invalid|unexpected|expected|failed|unknown|illegal|"
                       "garbage|unterminated|missing)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    require(german.match(own).hasMatch(), "failure text is not German", text);
    require(!english.match(own).hasMatch(), "failure text has English words", text);
}

} // namespace fuzzrules
