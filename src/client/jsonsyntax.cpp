#include "client/jsonsyntax.h"

#include <charconv>
#include <string>
#include <vector>

namespace {

// A state machine rather than recursion: nesting depth is the sender's choice.
class Walker {
public:
    Walker(QByteArrayView text, int maxDepth)
        : m_text(text)
        , m_maxDepth(maxDepth) {}

    std::optional<JsonSyntaxError> run() {
        enum class Expect { Value, FirstValue, Key, FirstKey, After };
        Expect expect = Expect::Value;
        for (;;) {
            skipSpace();
            switch (expect) {
            case Expect::FirstValue:
                if (at(']')) {
                    close();
                    expect = Expect::After;
                    break;
                }
                [[fallthrough]];
            case Expect::Value:
                if (atEnd())
                    return fail(u"Wert fehlt");
                if (at('[') || at('{')) {
                    if (qsizetype(m_open.size()) >= m_maxDepth)
                        return fail(u"zu tief verschachtelt");
                    expect = at('[') ? Expect::FirstValue : Expect::FirstKey;
                    m_open.push_back(m_text[m_pos++]);
                    break;
                }
                if (!value())
                    return m_error;
                expect = Expect::After;
                break;
            case Expect::FirstKey:
                if (at('}')) {
                    close();
                    expect = Expect::After;
                    break;
                }
                [[fallthrough]];
            case Expect::Key:
                if (atEnd())
                    return fail(u"Objekt nicht abgeschlossen");
                if (!at('"'))
                    return fail(u"Schlüssel fehlt");
                if (!string())
                    return m_error;
                skipSpace();
                if (atEnd())
                    return fail(u"Objekt nicht abgeschlossen");
                if (!at(':'))
                    return fail(u"„:“ fehlt");
                ++m_pos;
                expect = Expect::Value;
                break;
            case Expect::After:
                if (m_open.empty())
                    return atEnd() ? std::nullopt : fail(u"überzählige Zeichen am Ende");
                const bool inList = m_open.back() == '[';
                if (atEnd())
                    return fail(inList ? u"Liste nicht abgeschlossen"
                                       : u"Objekt nicht abgeschlossen");
                if (at(inList ? ']' : '}')) {
                    close();
                } else if (at(',')) {
                    ++m_pos;
                    expect = inList ? Expect::Value : Expect::Key;
                } else {
                    return fail(u"„,“ fehlt");
                }
                break;
            }
        }
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    bool at(char c) const { return !atEnd() && m_text[m_pos] == c; }
    unsigned char byte(qsizetype pos) const {
        return pos < m_text.size() ? static_cast<unsigned char>(m_text[pos]) : 0;
    }
    bool isDigit(qsizetype pos) const { return byte(pos) >= '0' && byte(pos) <= '9'; }

    void skipSpace() {
        while (at(' ') || at('\t') || at('\n') || at('\r'))
            ++m_pos;
    }
    void close() {
        m_open.pop_back();
        ++m_pos;
    }

    std::optional<JsonSyntaxError> fail(QStringView reason, qsizetype pos = -1) {
        m_error = JsonSyntaxError{pos < 0 ? m_pos : pos, reason.toString()};
        return m_error;
    }

    bool value() {
        const char c = m_text[m_pos];
        if (c == '"')
            return string();
        if (c == '-' || c == '.' || c == '+' || (c >= '0' && c <= '9'))
            return number();
        for (const char *word : {"true", "false", "null"}) {
            if (m_text.sliced(m_pos).startsWith(word)) {
                m_pos += qsizetype(std::char_traits<char>::length(word));
                return true;
            }
        }
        fail(c == ',' || c == ']' || c == '}' || c == ':' ? u"Wert fehlt" : u"unzulässiger Wert");
        return false;
    }

    bool number() {
        const qsizetype start = m_pos;
        const auto bad = [this] {
            fail(u"unzulässige Zahl");
            return false;
        };
        if (at('-'))
            ++m_pos;
        if (at('0')) {
            ++m_pos;
            if (isDigit(m_pos))
                return bad(); // no leading zeros
        } else if (isDigit(m_pos)) {
            while (isDigit(m_pos))
                ++m_pos;
        } else {
            return bad();
        }
        bool integral = true;
        if (at('.')) {
            integral = false;
            ++m_pos;
            if (!isDigit(m_pos))
                return bad();
            while (isDigit(m_pos))
                ++m_pos;
        }
        if (at('e') || at('E')) {
            integral = false;
            ++m_pos;
            if (at('+') || at('-'))
                ++m_pos;
            if (!isDigit(m_pos))
                return bad();
            while (isDigit(m_pos))
                ++m_pos;
        }
        if (!inRange(m_text.sliced(start, m_pos - start), integral)) {
            fail(u"Zahl außerhalb des Wertebereichs", start);
            return false;
        }
        return true;
    }

    // Integers must fit a signed or an unsigned 64-bit integer, other numbers
    // a double (numbers too small for one simply become 0).
    static bool inRange(QByteArrayView literal, bool integral) {
        const bool negative = literal.startsWith('-');
        if (integral) {
            const QByteArrayView digits = literal.sliced(negative ? 1 : 0);
            const QByteArrayView limit =
                negative ? QByteArrayView("9223372036854775808") : "18446744073709551615";
            return digits.size() < limit.size() ||
                   (digits.size() == limit.size() && digits.compare(limit) <= 0);
        }
        double value = 0;
        const auto [end, error] =
            std::from_chars(literal.data(), literal.data() + literal.size(), value);
        if (error != std::errc::result_out_of_range)
            return true;
        // Out of range either way: tell overflow from underflow by the first
        // significant digit's place.
        const qsizetype exponentAt = std::max(literal.indexOf('e'), literal.indexOf('E'));
        const QByteArrayView mantissa = literal.sliced(
            negative ? 1 : 0, (exponentAt < 0 ? literal.size() : exponentAt) - (negative ? 1 : 0));
        long long exponent = 0;
        if (exponentAt >= 0) {
            bool ok = false;
            exponent = literal.sliced(exponentAt + 1).toLongLong(&ok);
            if (!ok) // more digits than any exponent needs
                exponent = literal[exponentAt + 1] == '-' ? -1'000'000 : 1'000'000;
        }
        qsizetype point = mantissa.indexOf('.');
        if (point < 0)
            point = mantissa.size();
        for (qsizetype i = 0; i < mantissa.size(); ++i) {
            if (mantissa[i] != '0' && mantissa[i] != '.')
                return (i < point ? point - i - 1 : point - i) + exponent < 0;
        }
        return true;
    }

    bool string() {
        const qsizetype start = m_pos++;
        for (;;) {
            if (atEnd()) {
                fail(u"Text nicht abgeschlossen", start);
                return false;
            }
            const unsigned char c = byte(m_pos);
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20) {
                fail(u"Steuerzeichen im Text");
                return false;
            }
            if (c == '\\') {
                if (!escape())
                    return false;
            } else if (c >= 0x80) {
                if (!utf8())
                    return false;
            } else {
                ++m_pos;
            }
        }
    }

    static int hexDigit(unsigned char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        c |= 0x20; // lower case
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    }

    // The code unit of a "\uXXXX" at `pos`, or -1.
    int codeUnit(qsizetype pos) const {
        if (byte(pos) != '\\' || byte(pos + 1) != 'u')
            return -1;
        int unit = 0;
        for (qsizetype i = pos + 2; i < pos + 6; ++i) {
            const int digit = hexDigit(byte(i));
            if (digit < 0)
                return -1;
            unit = unit * 16 + digit;
        }
        return unit;
    }

    bool escape() {
        const char kind = char(byte(m_pos + 1));
        if (QByteArrayView("\"\\/bfnrt").contains(kind) && kind != 0) {
            m_pos += 2;
            return true;
        }
        const int unit = codeUnit(m_pos);
        // A surrogate only as a high-low pair: alone it stands for no character.
        bool valid = unit >= 0 && !(unit >= 0xDC00 && unit <= 0xDFFF);
        if (valid && unit >= 0xD800 && unit <= 0xDBFF) {
            const int low = codeUnit(m_pos + 6);
            valid = low >= 0xDC00 && low <= 0xDFFF;
            if (valid)
                m_pos += 6;
        }
        if (!valid) {
            fail(u"unzulässige Escape-Sequenz");
            return false;
        }
        m_pos += 6;
        return true;
    }

    bool utf8() {
        const unsigned char lead = byte(m_pos);
        int length = 0;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0; // no overlong forms
            if (lead == 0xED)
                high = 0x9F; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F; // nothing beyond U+10FFFF
        }
        bool valid = length > 0 && byte(m_pos + 1) >= low && byte(m_pos + 1) <= high;
        for (int i = 2; valid && i < length; ++i)
            valid = (byte(m_pos + i) & 0xC0) == 0x80;
        if (!valid) {
            fail(u"ungültiges UTF-8");
            return false;
        }
        m_pos += length;
        return true;
    }

    QByteArrayView m_text;
    int m_maxDepth;
    qsizetype m_pos = 0;
    std::vector<char> m_open; // '[' or '{' per open container
    std::optional<JsonSyntaxError> m_error;
};

} // namespace

std::optional<JsonSyntaxError> findJsonSyntaxError(QByteArrayView text, int maxDepth) {
    return Walker(text, maxDepth).run();
}

qsizetype characterPosition(QByteArrayView text, qsizetype offset) {
    qsizetype characters = 1;
    for (qsizetype i = 0; i < offset && i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            ++characters;
    }
    return characters;
}
