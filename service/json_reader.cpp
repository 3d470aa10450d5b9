#include "service/json_reader.h"

#include <QStringDecoder>

#include <array>
#include <limits>

namespace {

// Bytes that stand for themselves inside a string: printable ASCII but the quote and the backslash.
constexpr auto kPlainStringBytes = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c)
        plain[size_t(c)] = c != '"' && c != '\\';
    return plain;
}();

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// Exponents are only ever compared with digit counts, so beyond this bound their size no longer
// matters; stopping there keeps "1e99999999999999999999" from overflowing.
constexpr qint64 kExponentCap = qint64(1) << 50;

// The value of the number whose integer and fraction digits are given, times ten to `exponent`, when
// that is a whole number within signed 64 bits. It works on the digits as written rather than on a
// double, so no rounding can turn a fraction whole or pull a number into range.
std::optional<qint64> wholeNumber(bool negative, QByteArrayView integer, QByteArrayView fraction, qint64 exponent)
{
    const qsizetype count = integer.size() + fraction.size();
    const auto digitAt = [&](qsizetype i) {
        return quint64(i < integer.size() ? integer[i] - '0' : fraction[i - integer.size()] - '0');
    };
    qsizetype first = 0;
    while (first < count && digitAt(first) == 0)
        ++first;
    if (first == count)
        return 0;
    qsizetype last = count - 1;
    while (digitAt(last) == 0)
        --last;

    // Powers of ten after the last non-zero digit, and the number of digits of the whole value.
    const qint64 trailingZeros = exponent + integer.size() - 1 - last;
    const qint64 width = exponent + integer.size() - first;
    if (trailingZeros < 0 || width > std::numeric_limits<qint64>::digits10 + 1)
        return std::nullopt;
    // At most 19 digits, so below 10^19 and within an unsigned 64-bit value at every step.
    quint64 magnitude = 0;
    for (qsizetype i = first; i <= last; ++i)
        magnitude = magnitude * 10 + digitAt(i);
    for (qint64 i = 0; i < trailingZeros; ++i)
        magnitude *= 10;

    constexpr quint64 kMax = quint64(std::numeric_limits<qint64>::max());
    if (negative) {
        if (magnitude > kMax + 1)
            return std::nullopt;
        return magnitude == kMax + 1 ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
    }
    if (magnitude > kMax)
        return std::nullopt;
    return qint64(magnitude);
}

}  // namespace

JsonReader::JsonReader(QByteArrayView utf8)
    : m_pos(utf8.data())
    , m_end(utf8.data() + utf8.size())
{
    // Some editors start UTF-8 files with a byte order mark; JSON lets a reader ignore one.
    if (utf8.startsWith("\xEF\xBB\xBF"))
        m_pos += 3;
}

bool JsonReader::fail()
{
    m_failed = true;
    return false;
}

bool JsonReader::takeValueTurn()
{
    if (m_failed || !m_valueDue)
        return fail();
    m_valueDue = false;
    skipWhitespace();
    return true;
}

void JsonReader::skipWhitespace()
{
    const char* pos = m_pos;
    while (pos != m_end && (*pos == ' ' || *pos == '\n' || *pos == '\r' || *pos == '\t'))
        ++pos;
    m_pos = pos;
}

JsonKind JsonReader::peek()
{
    if (m_failed)
        return JsonKind::Invalid;
    skipWhitespace();
    if (m_pos == m_end)
        return JsonKind::Invalid;
    switch (*m_pos) {
    case '{':
        return JsonKind::Object;
    case '[':
        return JsonKind::Array;
    case '"':
        return JsonKind::String;
    case 't':
    case 'f':
        return JsonKind::Boolean;
    case 'n':
        return JsonKind::Null;
    default:
        return *m_pos == '-' || isDigit(*m_pos) ? JsonKind::Number : JsonKind::Invalid;
    }
}

bool JsonReader::beginObject()
{
    return open(true);
}

bool JsonReader::beginArray()
{
    return open(false);
}

bool JsonReader::open(bool isObject)
{
    if (!takeValueTurn())
        return false;
    if (m_pos == m_end || *m_pos != (isObject ? '{' : '['))
        return fail();
    // The limit bounds the container stack; nothing here recurses, so the stack of the thread is safe anyway.
    if (m_depth == kMaxDepth)
        return fail();
    ++m_pos;
    m_isObject[size_t(m_depth++)] = isObject;
    m_first = true;
    return true;
}

void JsonReader::close()
{
    ++m_pos;
    --m_depth;
    m_first = false;  // the container just closed was a value of the one around it
}

bool JsonReader::nextMember(bool inObject, char closer)
{
    if (m_failed || m_valueDue || m_depth == 0 || m_isObject[size_t(m_depth - 1)] != inObject)
        return fail();
    skipWhitespace();
    if (m_pos == m_end)
        return fail();
    if (*m_pos == closer) {
        close();
        return false;
    }
    if (!m_first) {
        if (*m_pos != ',')
            return fail();
        ++m_pos;
    }
    m_first = false;
    return true;
}

bool JsonReader::nextKey(QByteArrayView& key)
{
    if (!nextMember(true, '}'))
        return false;
    skipWhitespace();
    if (!scanString(true, key))
        return false;
    skipWhitespace();
    if (m_pos == m_end || *m_pos != ':')
        return fail();
    ++m_pos;
    m_valueDue = true;
    return true;
}

bool JsonReader::nextElement()
{
    if (!nextMember(false, ']'))
        return false;
    m_valueDue = true;
    return true;
}

bool JsonReader::readString(QString& out)
{
    QByteArrayView text;
    if (!readUtf8(text))
        return false;
    // QString::fromUtf8 drops a byte order mark at the start of its input, but inside a JSON string one
    // is a character like any other. Rare enough to be decoded apart.
    if (text.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        out = decoder.decode(text);
    } else {
        out = QString::fromUtf8(text);
    }
    return true;
}

bool JsonReader::readUtf8(QByteArrayView& out)
{
    return takeValueTurn() && scanString(true, out);
}

std::optional<qint64> JsonReader::readInteger()
{
    std::optional<qint64> value;
    if (!takeValueTurn() || !scanNumber(&value))
        return std::nullopt;
    return value;
}

bool JsonReader::skipValue()
{
    // Iterative rather than recursive, so that nesting costs a bit per level and no stack.
    const int outer = m_depth;
    QByteArrayView ignored;
    do {
        bool ok = false;
        switch (peek()) {
        case JsonKind::Object:
            ok = beginObject();
            break;
        case JsonKind::Array:
            ok = beginArray();
            break;
        case JsonKind::String:
            ok = takeValueTurn() && scanString(false, ignored);
            break;
        case JsonKind::Number:
            ok = takeValueTurn() && scanNumber(nullptr);
            break;
        case JsonKind::Boolean:
            ok = takeValueTurn() && scanLiteral(*m_pos == 't' ? "true" : "false");
            break;
        case JsonKind::Null:
            ok = takeValueTurn() && scanLiteral("null");
            break;
        case JsonKind::Invalid:
            ok = fail();
            break;
        }
        if (!ok)
            return false;
        // Close every container that ends here, until one has another member or element.
        while (m_depth > outer) {
            const bool more = m_isObject[size_t(m_depth - 1)] ? nextKey(ignored) : nextElement();
            if (more)
                break;
            if (m_failed)
                return false;
        }
    } while (m_depth > outer);
    return true;
}

bool JsonReader::finish()
{
    if (m_failed || m_valueDue || m_depth != 0)
        return fail();
    skipWhitespace();
    return m_pos == m_end || fail();
}

bool JsonReader::scanString(bool keep, QByteArrayView& text)
{
    if (m_pos == m_end || *m_pos != '"')
        return fail();
    const char* const begin = ++m_pos;
    const char* run = begin;  // start of the bytes not yet copied to m_unescaped
    bool escaped = false;
    for (;;) {
        // Printable ASCII is nearly all there is: run through it before looking closer.
        // A local cursor: the compiler cannot keep the member in a register, as any char may alias it.
        const char* pos = m_pos;
        while (pos != m_end && kPlainStringBytes[uchar(*pos)])
            ++pos;
        m_pos = pos;
        if (m_pos == m_end)
            return fail();
        const uchar c = uchar(*m_pos);
        if (c == '"')
            break;
        if (c == '\\') {
            if (keep) {
                if (!escaped)
                    m_unescaped.clear();
                m_unescaped.append(run, m_pos);
            }
            escaped = true;
            if (!scanEscape(keep))
                return false;
            run = m_pos;
        } else if (c < 0x20) {
            return fail();  // JSON wants control characters escaped
        } else if (!scanUtf8Sequence()) {
            return false;
        }
    }
    if (keep && escaped) {
        m_unescaped.append(run, m_pos);
        text = QByteArrayView(m_unescaped.data(), qsizetype(m_unescaped.size()));
    } else {
        text = QByteArrayView(begin, m_pos);
    }
    ++m_pos;
    return true;
}

bool JsonReader::scanEscape(bool keep)
{
    if (m_end - m_pos < 2)
        return fail();
    const char letter = m_pos[1];
    m_pos += 2;
    char plain = 0;
    switch (letter) {
    case '"':
    case '\\':
    case '/':
        plain = letter;
        break;
    case 'b':
        plain = '\b';
        break;
    case 'f':
        plain = '\f';
        break;
    case 'n':
        plain = '\n';
        break;
    case 'r':
        plain = '\r';
        break;
    case 't':
        plain = '\t';
        break;
    case 'u': {
        const auto hex4 = [this]() -> int {
            if (m_end - m_pos < 4)
                return -1;
            int unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexValue(m_pos[i]);
                if (digit < 0)
                    return -1;
                unit = unit * 16 + digit;
            }
            m_pos += 4;
            return unit;
        };
        int unit = hex4();
        // A surrogate escape only means something as the first half of a pair written as two escapes
        // in a row. Alone it names no character, and the text could not become valid Unicode text, so
        // the document is refused rather than passing the broken half on.
        if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF))
            return fail();
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (m_end - m_pos < 2 || m_pos[0] != '\\' || m_pos[1] != 'u')
                return fail();
            m_pos += 2;
            const int low = hex4();
            if (low < 0xDC00 || low > 0xDFFF)
                return fail();
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        if (keep)
            appendUtf8(m_unescaped, char32_t(unit));
        return true;
    }
    default:
        return fail();
    }
    if (keep)
        m_unescaped.push_back(plain);
    return true;
}

bool JsonReader::scanUtf8Sequence()
{
    // Well-formed UTF-8 only: no overlong forms, no encoded surrogates, nothing beyond U+10FFFF.
    const uchar lead = uchar(*m_pos);
    int continuations = 0;
    uchar lower = 0x80, upper = 0xBF;  // the allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        if (lead == 0xE0)
            lower = 0xA0;
        else if (lead == 0xED)
            upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        if (lead == 0xF0)
            lower = 0x90;
        else if (lead == 0xF4)
            upper = 0x8F;
    } else {
        return fail();
    }
    if (m_end - m_pos <= continuations)
        return fail();
    for (int i = 1; i <= continuations; ++i) {
        const uchar c = uchar(m_pos[i]);
        if (c < lower || c > upper)
            return fail();
        lower = 0x80;
        upper = 0xBF;
    }
    m_pos += continuations + 1;
    return true;
}

bool JsonReader::scanNumber(std::optional<qint64>* value)
{
    const auto digits = [this] {
        const char* const begin = m_pos;
        const char* pos = begin;
        while (pos != m_end && isDigit(*pos))
            ++pos;
        m_pos = pos;
        return QByteArrayView(begin, pos);
    };

    const bool negative = m_pos != m_end && *m_pos == '-';
    if (negative)
        ++m_pos;
    // No leading zeros: a 0 is a whole integer part, and a digit after it is a fault of whatever follows.
    QByteArrayView integer;
    if (m_pos != m_end && *m_pos == '0')
        integer = QByteArrayView(m_pos++, 1);
    else
        integer = digits();
    if (integer.isEmpty())
        return fail();

    QByteArrayView fraction;
    if (m_pos != m_end && *m_pos == '.') {
        ++m_pos;
        fraction = digits();
        if (fraction.isEmpty())
            return fail();
    }

    qint64 exponent = 0;
    if (m_pos != m_end && (*m_pos == 'e' || *m_pos == 'E')) {
        ++m_pos;
        const bool negativeExponent = m_pos != m_end && *m_pos == '-';
        if (m_pos != m_end && (*m_pos == '-' || *m_pos == '+'))
            ++m_pos;
        const QByteArrayView written = digits();
        if (written.isEmpty())
            return fail();
        for (const char c : written)
            exponent = std::min(exponent * 10 + (c - '0'), kExponentCap);
        if (negativeExponent)
            exponent = -exponent;
    }

    if (value)
        *value = wholeNumber(negative, integer, fraction, exponent);
    return true;
}

bool JsonReader::scanLiteral(QByteArrayView word)
{
    if (!QByteArrayView(m_pos, m_end).startsWith(word))
        return fail();
    m_pos += word.size();
    return true;
}
