#pragma once
// Finds where a text stops being JSON as RFC 8259 defines it. The decoder's
// fast parser only says that a text is bad; this slow, plain walk says where
// and why, and runs only then.

#include <QByteArrayView>
#include <QString>
#include <optional>

struct JsonSyntaxError {
    qsizetype offset = 0; // byte offset of the offending character
    QString reason;       // German, e.g. "unzulässige Zahl"
};

// The first fault of `text`, or nothing when it is one JSON value with white
// space around it, no number outside 64-bit integers and doubles, and nesting
// no deeper than `maxDepth`.
std::optional<JsonSyntaxError> findJsonSyntaxError(QByteArrayView text, int maxDepth);

// The 1-based character (code point) position of a byte offset.
qsizetype characterPosition(QByteArrayView text, qsizetype offset);
