#include "strictjson.h"

#include <QStringDecoder>

namespace strictjson {

namespace {

constexpr int maxDepth = 64;

class Reader {
public:
    explicit Reader(const QByteArray &text)
        : s(text) {}

    std::optional<Value> document(QString *error) {
        Value v;
        skipSpace();
        if (!value(v, 0)) {
            *error = fail;
            return std::nullopt;
        }
        skipSpace();
        if (pos != s.size()) {
            *error = QStringLiteral("trailing characters at byte %1").arg(pos);
            return std::nullopt;
        }
        return v;
    }

private:
    const QByteArray &s;
    qsizetype pos = 0;
    QString fail;

    bool error(const QString &what) {
        fail = QStringLiteral("%1 at byte %2").arg(what).arg(pos);
        return false;
    }
    char peek() const { return pos < s.size() ? s[pos] : '\0'; }
    bool atEnd() const { return pos >= s.size(); }
    void skipSpace() {
        while (!atEnd() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r'))
            ++pos;
    }
    bool literal(const char *word) {
        const QByteArray w(word);
        if (s.mid(pos, w.size()) != w)
            return error(QStringLiteral("invalid literal"));
        pos += w.size();
        return true;
    }

    bool value(Value &v, int depth) {
        if (depth > maxDepth)
            return error(QStringLiteral("nesting too deep"));
        switch (peek()) {
        case '{':
            return object(v, depth);
        case '[':
            return array(v, depth);
        case '"':
            v.kind = Value::Kind::String;
            return string(v.string);
        case 't':
            v.kind = Value::Kind::Bool;
            v.boolean = true;
            return literal("true");
        case 'f':
            v.kind = Value::Kind::Bool;
            return literal("false");
        case 'n':
            v.kind = Value::Kind::Null;
            return literal("null");
        default:
            if (peek() == '-' || (peek() >= '0' && peek() <= '9'))
                return number(v);
            return atEnd() ? error(QStringLiteral("unexpected end"))
                           : error(QStringLiteral("unexpected character"));
        }
    }

    bool object(Value &v, int depth) {
        v.kind = Value::Kind::Object;
        ++pos; // {
        skipSpace();
        if (peek() == '}') {
            ++pos;
            return true;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"')
                return error(QStringLiteral("expected a key"));
            QString key;
            if (!string(key))
                return false;
            skipSpace();
            if (peek() != ':')
                return error(QStringLiteral("expected ':'"));
            ++pos;
            skipSpace();
            Value member;
            if (!value(member, depth + 1))
                return false;
            v.members.emplace_back(key, std::move(member));
            skipSpace();
            if (peek() == ',') {
                ++pos;
                continue;
            }
            if (peek() == '}') {
                ++pos;
                return true;
            }
            return error(QStringLiteral("expected ',' or '}'"));
        }
    }

    bool array(Value &v, int depth) {
        v.kind = Value::Kind::Array;
        ++pos; // [
        skipSpace();
        if (peek() == ']') {
            ++pos;
            return true;
        }
        for (;;) {
            skipSpace();
            Value item;
            if (!value(item, depth + 1))
                return false;
            v.items.push_back(std::move(item));
            skipSpace();
            if (peek() == ',') {
                ++pos;
                continue;
            }
            if (peek() == ']') {
                ++pos;
                return true;
            }
            return error(QStringLiteral("expected ',' or ']'"));
        }
    }

    bool number(Value &v) {
        v.kind = Value::Kind::Number;
        const qsizetype begin = pos;
        auto digits = [this] {
            const qsizetype start = pos;
            while (!atEnd() && s[pos] >= '0' && s[pos] <= '9')
                ++pos;
            return pos - start;
        };
        if (peek() == '-')
            ++pos;
        if (peek() == '0') {
            ++pos;
            if (peek() >= '0' && peek() <= '9')
                return error(QStringLiteral("leading zero"));
        } else if (digits() == 0) {
            return error(QStringLiteral("invalid number"));
        }
        if (peek() == '.') {
            ++pos;
            if (digits() == 0)
                return error(QStringLiteral("invalid fraction"));
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos;
            if (peek() == '+' || peek() == '-')
                ++pos;
            if (digits() == 0)
                return error(QStringLiteral("invalid exponent"));
        }
        v.number = s.mid(begin, pos - begin);
        return true;
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool hex4(char16_t &out) {
        if (pos + 4 > s.size())
            return error(QStringLiteral("short \\u escape"));
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hexValue(s[pos + i]);
            if (h < 0)
                return error(QStringLiteral("bad \\u escape"));
            v = v * 16 + h;
        }
        pos += 4;
        out = char16_t(v);
        return true;
    }

    // Raw bytes between escapes must be valid UTF-8.
    bool flush(QString &out, qsizetype from, qsizetype to) {
        if (to <= from)
            return true;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString part = decoder(QByteArrayView(s.constData() + from, to - from));
        if (decoder.hasError())
            return error(QStringLiteral("invalid UTF-8 in string"));
        out += part;
        return true;
    }

    bool string(QString &out) {
        ++pos; // opening quote
        qsizetype run = pos;
        for (;;) {
            if (atEnd())
                return error(QStringLiteral("unterminated string"));
            const unsigned char c = static_cast<unsigned char>(s[pos]);
            if (c == '"') {
                if (!flush(out, run, pos))
                    return false;
                ++pos;
                return true;
            }
            if (c < 0x20)
                return error(QStringLiteral("control character in string"));
            if (c != '\\') {
                ++pos;
                continue;
            }
            if (!flush(out, run, pos))
                return false;
            ++pos;
            const char e = peek();
            ++pos;
            switch (e) {
            case '"':
                out += QLatin1Char('"');
                break;
            case '\\':
                out += QLatin1Char('\\');
                break;
            case '/':
                out += QLatin1Char('/');
                break;
            case 'b':
                out += QLatin1Char('\b');
                break;
            case 'f':
                out += QLatin1Char('\f');
                break;
            case 'n':
                out += QLatin1Char('\n');
                break;
            case 'r':
                out += QLatin1Char('\r');
                break;
            case 't':
                out += QLatin1Char('\t');
                break;
            case 'u': {
                char16_t unit;
                if (!hex4(unit))
                    return false;
                if (QChar::isHighSurrogate(unit)) {
                    char16_t low;
                    if (s.mid(pos, 2) != "\\u")
                        return error(QStringLiteral("lone surrogate"));
                    pos += 2;
                    if (!hex4(low))
                        return false;
                    if (!QChar::isLowSurrogate(low))
                        return error(QStringLiteral("lone surrogate"));
                    out += QChar(unit);
                    out += QChar(low);
                } else if (QChar::isLowSurrogate(unit)) {
                    return error(QStringLiteral("lone surrogate"));
                } else {
                    out += QChar(unit);
                }
                break;
            }
            default:
                --pos;
                return error(QStringLiteral("bad escape"));
            }
            run = pos;
        }
    }
};

} // namespace

bool Value::isInteger(qint64 *out) const {
    if (kind != Kind::Number || number.contains('.') || number.contains('e') ||
        number.contains('E'))
        return false;
    bool ok = false;
    const qint64 v = number.toLongLong(&ok);
    if (ok && out)
        *out = v;
    return ok;
}

std::optional<Value> parse(const QByteArray &text, QString *error) {
    return Reader(text).document(error);
}

const char *kindName(Value::Kind kind) {
    switch (kind) {
    case Value::Kind::Null:
        return "null";
    case Value::Kind::Bool:
        return "a boolean";
    case Value::Kind::Number:
        return "a number";
    case Value::Kind::String:
        return "a string";
    case Value::Kind::Array:
        return "an array";
    case Value::Kind::Object:
        return "an object";
    }
    return "?";
}

} // namespace strictjson
