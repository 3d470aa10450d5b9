#include "status.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

using namespace Qt::StringLiterals;

namespace {

// Each reader answers whether the key was acceptable; a false anywhere rejects the whole document.

bool readText(const QJsonObject& object, QLatin1StringView key, QString& out)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool readOptionalText(const QJsonObject& object, QLatin1StringView key, std::optional<QString>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool readInteger(const QJsonObject& object, QLatin1StringView key, qint64& out)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return false;
    // toInteger() falls back to its argument for fractions and for numbers beyond 64 bits, so two
    // different fallbacks agreeing means the number really is a whole 64-bit value.
    const qint64 integer = value.toInteger(0);
    if (integer != value.toInteger(1))
        return false;
    out = integer;
    return true;
}

bool readNeedsYou(const QJsonValue& element, NeedsYou& out)
{
    if (!element.isObject())
        return false;
    const QJsonObject object = element.toObject();
    return readText(object, "agent"_L1, out.agent) && readText(object, "where"_L1, out.where)
        && readOptionalText(object, "detail"_L1, out.detail)
        && readOptionalText(object, "session"_L1, out.session)
        && readOptionalText(object, "window"_L1, out.window)
        && readOptionalText(object, "run"_L1, out.run);
}

bool readRelays(const QJsonObject& object, std::optional<QStringList>& out)
{
    const QJsonValue value = object.value("relays"_L1);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    QStringList relays;
    relays.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isString())
            return false;
        relays.append(element.toString());
    }
    out = std::move(relays);
    return true;
}

bool readNeedsYouList(const QJsonObject& object, std::optional<std::vector<NeedsYou>>& out)
{
    const QJsonValue value = object.value("needs_you"_L1);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    std::vector<NeedsYou> entries(size_t(array.size()));
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!readNeedsYou(array.at(i), entries[size_t(i)]))
            return false;
    }
    out = std::move(entries);
    return true;
}

bool readTimestamp(const QJsonObject& object, Timestamp& out)
{
    const QJsonValue value = object.value("updated_at"_L1);
    if (!value.isString())
        return false;
    // A text that is not a date-time is no error: the record just counts as stale.
    out = parseInternetDateTime(value.toString()).value_or(kDistantPast);
    return true;
}

// Reads `count` ASCII digits at `pos`; -1 when any of them is not a digit.
int digits(QStringView text, qsizetype pos, int count)
{
    if (pos + count > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[pos + i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool isAt(QStringView text, qsizetype pos, char16_t c)
{
    return pos < text.size() && text[pos] == c;
}

}  // namespace

std::optional<Timestamp> parseInternetDateTime(QStringView text)
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
        for (; pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9'; ++pos) {
            if (pos - start < 6)  // finer digits than microseconds are read and dropped
                micros = micros * 10 + (text[pos].unicode() - u'0');
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
        const int sign = text[pos] == u'-' ? -1 : 1;
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

std::optional<Status> decodeStatus(QByteArrayView bytes)
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(bytes.data(), bytes.size()), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    Status status;
    if (readInteger(object, "pid"_L1, status.pid) && readText(object, "name"_L1, status.name)
        && readText(object, "version"_L1, status.version) && readTimestamp(object, status.updatedAt)
        && readRelays(object, status.relays) && readInteger(object, "clients"_L1, status.clients)
        && readOptionalText(object, "last_error"_L1, status.lastError)
        && readNeedsYouList(object, status.needsYou))
        return status;
    return std::nullopt;
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
