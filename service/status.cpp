#include "service/status.h"

#include "service/json_reader.h"

#include <QHashFunctions>

#include <cstring>

namespace {

// The code unit at `pos`. The parser below looks only for ASCII, and a byte of a multi-byte UTF-8
// sequence is never ASCII, so it reaches the same verdict on UTF-8 bytes as on the decoded text.
char16_t unitAt(QStringView text, qsizetype pos)
{
    return text[pos].unicode();
}

char16_t unitAt(QByteArrayView text, qsizetype pos)
{
    return uchar(text[pos]);
}

// Reads `count` ASCII digits at `pos`; -1 when any of them is not a digit.
template<typename Text>
int digits(Text text, qsizetype pos, int count)
{
    if (pos + count > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = unitAt(text, pos + i);
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

template<typename Text>
bool isAt(Text text, qsizetype pos, char16_t c)
{
    return pos < text.size() && unitAt(text, pos) == c;
}

template<typename Text>
std::optional<Timestamp> parseDateTime(Text text)
{
    using namespace std::chrono;
    // 2025-01-31T12:34:56[.123456]Z or with a ±hh:mm offset.
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || !isAt(text, 4, u'-')
        || !isAt(text, 7, u'-') || !isAt(text, 10, u'T') || !isAt(text, 13, u':') || !isAt(text, 16, u':'))
        return std::nullopt;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;

    qsizetype pos = 19;
    microseconds fraction{0};
    if (isAt(text, pos, u'.')) {
        ++pos;
        const qsizetype start = pos;
        qint64 micros = 0;
        for (; pos < text.size() && unitAt(text, pos) >= u'0' && unitAt(text, pos) <= u'9'; ++pos) {
            if (pos - start < 6)  // finer digits than microseconds are read and dropped
                micros = micros * 10 + (unitAt(text, pos) - u'0');
        }
        if (pos == start)
            return std::nullopt;
        for (qsizetype n = pos - start; n < 6; ++n)
            micros *= 10;
        fraction = microseconds{micros};
    }

    minutes offset{0};
    if (isAt(text, pos, u'Z')) {
        ++pos;
    } else if (isAt(text, pos, u'+') || isAt(text, pos, u'-')) {
        const int sign = unitAt(text, pos) == u'-' ? -1 : 1;
        const int offsetHours = digits(text, pos + 1, 2), offsetMinutes = digits(text, pos + 4, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59 || !isAt(text, pos + 3, u':'))
            return std::nullopt;
        offset = minutes{sign * (offsetHours * 60 + offsetMinutes)};
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != text.size())
        return std::nullopt;

    const auto local = sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + fraction;
    return time_point_cast<microseconds>(local - offset);
}

// Each reader below consumes the whole value, whatever it holds, and answers whether it was
// acceptable. A bad value does not end decoding at once: a later duplicate of its key replaces it,
// as the last occurrence of a key is the one that counts.

// The keys of one object that were seen, each with the verdict on its last occurrence.
class Verdicts {
public:
    void record(unsigned key, bool acceptable)
    {
        m_good &= ~key;
        m_bad &= ~key;
        (acceptable ? m_good : m_bad) |= key;
    }
    bool accepted(unsigned required) const { return m_bad == 0 && (m_good & required) == required; }

private:
    unsigned m_good = 0;
    unsigned m_bad = 0;
};

// Compared at a length known when compiling, which the compiler turns into a few instructions.
template<size_t N>
bool is(QByteArrayView key, const char (&name)[N])
{
    return key.size() == N - 1 && std::memcmp(key.data(), name, N - 1) == 0;
}

bool refuse(JsonReader& reader)
{
    reader.skipValue();
    return false;
}

bool readText(JsonReader& reader, QString& out)
{
    if (reader.peek() != JsonKind::String)
        return refuse(reader);
    return reader.readString(out);
}

bool readOptionalText(JsonReader& reader, std::optional<QString>& out)
{
    switch (reader.peek()) {
    case JsonKind::Null:
        out.reset();
        return reader.skipValue();
    case JsonKind::String:
        return reader.readString(out.emplace());
    default:
        return refuse(reader);
    }
}

bool readInteger(JsonReader& reader, qint64& out)
{
    if (reader.peek() != JsonKind::Number)
        return refuse(reader);
    const std::optional<qint64> value = reader.readInteger();
    if (!value)
        return false;
    out = *value;
    return true;
}

bool readTimestamp(JsonReader& reader, Timestamp& out)
{
    if (reader.peek() != JsonKind::String)
        return refuse(reader);
    // Parsed from the UTF-8 bytes: a text made only to be parsed would cost an allocation every 3 s.
    QByteArrayView text;
    if (!reader.readUtf8(text))
        return false;
    // A text that is not a date-time is no error: the record just counts as stale.
    out = parseDateTime(text).value_or(kDistantPast);
    return true;
}

bool readRelays(JsonReader& reader, std::optional<QStringList>& out)
{
    switch (reader.peek()) {
    case JsonKind::Null:
        out.reset();
        return reader.skipValue();
    case JsonKind::Array:
        break;
    default:
        return refuse(reader);
    }
    reader.beginArray();
    QStringList relays;
    bool acceptable = true;
    while (reader.nextElement()) {
        if (acceptable && reader.peek() == JsonKind::String)
            acceptable = reader.readString(relays.emplaceBack());
        else
            acceptable = refuse(reader);  // one bad element loses the list, so the rest is only skipped
    }
    if (acceptable)
        out = std::move(relays);
    return acceptable;
}

enum NeedsYouKey : unsigned { kAgent = 1, kWhere = 2, kDetail = 4, kSession = 8, kWindow = 16, kRun = 32 };

bool readNeedsYou(JsonReader& reader, NeedsYou& out)
{
    if (reader.peek() != JsonKind::Object)
        return refuse(reader);
    reader.beginObject();
    Verdicts verdicts;
    QByteArrayView key;
    while (reader.nextKey(key)) {
        if (is(key, "agent"))
            verdicts.record(kAgent, readText(reader, out.agent));
        else if (is(key, "where"))
            verdicts.record(kWhere, readText(reader, out.where));
        else if (is(key, "detail"))
            verdicts.record(kDetail, readOptionalText(reader, out.detail));
        else if (is(key, "session"))
            verdicts.record(kSession, readOptionalText(reader, out.session));
        else if (is(key, "window"))
            verdicts.record(kWindow, readOptionalText(reader, out.window));
        else if (is(key, "run"))
            verdicts.record(kRun, readOptionalText(reader, out.run));
        else
            reader.skipValue();
    }
    return verdicts.accepted(kAgent | kWhere);
}

bool readNeedsYouList(JsonReader& reader, std::optional<std::vector<NeedsYou>>& out)
{
    switch (reader.peek()) {
    case JsonKind::Null:
        out.reset();
        return reader.skipValue();
    case JsonKind::Array:
        break;
    default:
        return refuse(reader);
    }
    reader.beginArray();
    std::vector<NeedsYou> entries;
    bool acceptable = true;
    while (reader.nextElement()) {
        if (acceptable)
            acceptable = readNeedsYou(reader, entries.emplace_back());
        else
            reader.skipValue();
    }
    if (acceptable)
        out = std::move(entries);
    return acceptable;
}

enum StatusKey : unsigned {
    kPid = 1, kName = 2, kVersion = 4, kUpdatedAt = 8, kRelays = 16, kClients = 32, kLastError = 64, kNeedsYou = 128
};

}  // namespace

std::optional<Timestamp> parseInternetDateTime(QStringView text)
{
    return parseDateTime(text);
}

std::optional<Status> decodeStatus(QByteArrayView bytes)
{
    JsonReader reader(bytes);
    if (!reader.beginObject())
        return std::nullopt;
    Status status;
    Verdicts verdicts;
    QByteArrayView key;
    while (reader.nextKey(key)) {
        if (is(key, "pid"))
            verdicts.record(kPid, readInteger(reader, status.pid));
        else if (is(key, "name"))
            verdicts.record(kName, readText(reader, status.name));
        else if (is(key, "version"))
            verdicts.record(kVersion, readText(reader, status.version));
        else if (is(key, "updated_at"))
            verdicts.record(kUpdatedAt, readTimestamp(reader, status.updatedAt));
        else if (is(key, "relays"))
            verdicts.record(kRelays, readRelays(reader, status.relays));
        else if (is(key, "clients"))
            verdicts.record(kClients, readInteger(reader, status.clients));
        else if (is(key, "last_error"))
            verdicts.record(kLastError, readOptionalText(reader, status.lastError));
        else if (is(key, "needs_you"))
            verdicts.record(kNeedsYou, readNeedsYouList(reader, status.needsYou));
        else
            reader.skipValue();
    }
    if (!reader.finish() || !verdicts.accepted(kPid | kName | kVersion | kUpdatedAt | kClients))
        return std::nullopt;
    return status;
}

size_t qHash(const NeedsYou& entry, size_t seed) noexcept
{
    const auto combine = [&seed](const auto& value) {
        seed ^= qHash(value, 0) + 0x9e3779b9 + (seed << 6) + (seed >> 2);
    };
    combine(entry.agent);
    combine(entry.where);
    for (const std::optional<QString>* field : {&entry.detail, &entry.session, &entry.window, &entry.run}) {
        combine(uchar(field->has_value() ? 1 : 0));
        if (field->has_value())
            combine(**field);
    }
    return seed;
}
