#pragma once
// A small JSON reader that is stricter than QJsonDocument: it keeps number
// lexemes (so 2 and 2.0 differ), keeps duplicate keys, and accepts nothing
// beyond RFC 8259. A strict server has to see what the client really sent.

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace strictjson {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    QByteArray number; // the literal as written
    QString string;
    std::vector<Value> items;
    std::vector<std::pair<QString, Value>> members; // in order, duplicates kept

    // A number written without fraction or exponent that fits 64 bits.
    bool isInteger(qint64 *out = nullptr) const;
};

// The whole text must be one JSON value, white space around it allowed.
std::optional<Value> parse(const QByteArray &text, QString *error);

const char *kindName(Value::Kind kind);

} // namespace strictjson
