#include "qt_printers.h"
#include "service/json_reader.h"
#include "service/status.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string_view>

using namespace Qt::StringLiterals;
using namespace std::literals;

namespace {

// ---------------------------------------------------------------------------------------------
// The reference: the status decoder as it was built on QJsonDocument, kept word for word.

namespace reference {

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

}  // namespace reference

// ---------------------------------------------------------------------------------------------
// Where the two decoders part on purpose. QJsonDocument is laxer than JSON in a few ways that the
// reader refuses, and it reads numbers through a double where the reader is exact. Documents that
// show any of these are left out of the comparison; the reader's side of each is pinned down by
// the direct tests at the end of this file.

int hex4(QByteArrayView text, qsizetype at)
{
    if (at + 4 > text.size())
        return -1;
    int unit = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0'
            : c >= 'a' && c <= 'f'             ? c - 'a' + 10
            : c >= 'A' && c <= 'F'             ? c - 'A' + 10
                                               : -1;
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the two decoders may read the number at the start of `run` (a stretch of number
// characters outside strings) differently; it is scanned the way QJsonDocument scans it.
bool numberDiffersByDesign(QByteArrayView run)
{
    qsizetype end = 0;
    if (end < run.size() && run[end] == '-')
        ++end;
    const qsizetype integerStart = end;
    if (end < run.size() && run[end] == '0')
        ++end;
    else
        while (end < run.size() && isDigit(run[end]))
            ++end;
    const bool hasInteger = end > integerStart;
    bool plain = true;
    if (end < run.size() && run[end] == '.') {
        // QJsonDocument takes ".5" and "1." as numbers; JSON and the reader do not.
        plain = false;
        const qsizetype fractionStart = ++end;
        while (end < run.size() && isDigit(run[end]))
            ++end;
        if (!hasInteger || end == fractionStart)
            return true;
    }
    const qsizetype mantissaEnd = end;
    if (end < run.size() && (run[end] == 'e' || run[end] == 'E')) {
        plain = false;
        ++end;
        if (end < run.size() && (run[end] == '+' || run[end] == '-'))
            ++end;
        while (end < run.size() && isDigit(run[end]))
            ++end;
    }
    if (!hasInteger)
        return false;  // refused by both
    const std::string token(run.data(), size_t(end));
    const double value = std::strtod(token.c_str(), nullptr);

    if (plain) {
        qint64 integer = 0;
        const auto [rest, error] = std::from_chars(token.data(), token.data() + token.size(), integer);
        if (error == std::errc())
            return false;  // QJsonDocument keeps a 64-bit integer as it is
        // Beyond 64 bits it falls back to a double: an infinite one refuses the document even under an
        // unread key, and -2^63 - 1 and its neighbours round to -2^63, which it then accepts.
        return !std::isfinite(value) || value == -0x1p63;
    }
    // With up to 15 significant digits and a size between 10^-300 and 10^15, a double holds a whole
    // number exactly and never rounds a fraction to a whole one; from 10^19 on, both find it beyond
    // 64 bits. In between, and with more digits, the two may disagree; and QJsonDocument refuses
    // numbers that overflow or underflow a double outright.
    std::string significant;
    for (qsizetype i = 0; i < mantissaEnd; ++i) {
        if (isDigit(run[i]))
            significant.push_back(run[i]);
    }
    const size_t first = significant.find_first_not_of('0');
    if (first == std::string::npos)
        return false;  // zero, whatever the exponent says
    const size_t last = significant.find_last_not_of('0');
    const double size = std::abs(value);
    return last - first + 1 > 15 || !std::isfinite(value) || size < 1e-300 || (size >= 1e15 && size < 1e19);
}

bool differsByDesign(QByteArrayView document)
{
    bool inString = false;
    qsizetype i = 0;
    while (i < document.size()) {
        const uchar c = uchar(document[i]);
        if (!inString) {
            if (c == '"') {
                inString = true;
                ++i;
            } else if (c == '-' || c == '.' || isDigit(char(c))) {
                qsizetype end = i;
                while (end < document.size() && document[end] && std::strchr("0123456789+-.eE", document[end]))
                    ++end;
                if (numberDiffersByDesign(document.sliced(i, end - i)))
                    return true;
                i = end;
            } else {
                ++i;
            }
            continue;
        }
        if (c == '"') {
            inString = false;
            ++i;
        } else if (c < 0x20) {
            return true;  // QJsonDocument takes control characters unescaped
        } else if (c == '\\' && i + 1 < document.size()) {
            const char letter = document[i + 1];
            if (!letter || !std::strchr("\"\\/bfnrtu", letter))
                return true;  // QJsonDocument reads an unknown escape as its letter
            if (letter != 'u') {
                i += 2;
                continue;
            }
            // QJsonDocument passes a surrogate escape that is not half of a pair on into the text; the
            // reader refuses the document.
            const int unit = hex4(document, i + 2);
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                return true;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                const int low = document.sliced(i + 6).startsWith("\\u") ? hex4(document, i + 8) : -1;
                if (low < 0xDC00 || low > 0xDFFF)
                    return true;
                i += 12;
            } else {
                i += 2;
            }
        } else {
            ++i;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Comparing outcomes.

std::string printable(QByteArrayView bytes)
{
    std::string out;
    for (const char c : bytes) {
        if (uchar(c) >= 0x20 && uchar(c) < 0x7F && c != '\\') {
            out.push_back(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", uchar(c));
            out += escaped;
        }
    }
    return out;
}

// The name of the first field in which the records differ; empty when they are equal.
std::string firstDifference(const Status& a, const Status& b)
{
    if (a.pid != b.pid)
        return "pid " + std::to_string(a.pid) + " vs " + std::to_string(b.pid);
    if (a.name != b.name)
        return "name";
    if (a.version != b.version)
        return "version";
    if (a.updatedAt != b.updatedAt)
        return "updated_at";
    if (a.relays != b.relays)
        return "relays";
    if (a.clients != b.clients)
        return "clients " + std::to_string(a.clients) + " vs " + std::to_string(b.clients);
    if (a.lastError != b.lastError)
        return "last_error";
    if (a.needsYou != b.needsYou)
        return "needs_you";
    return {};
}

// Runs both decoders over documents and tallies what they did; reports each disagreement.
class Comparison {
public:
    void check(const QByteArray& document)
    {
        if (differsByDesign(document)) {
            ++m_excluded;
            return;
        }
        const std::optional<Status> expected = reference::decodeStatus(document);
        const std::optional<Status> actual = decodeStatus(document);
        std::string problem;
        if (expected.has_value() != actual.has_value())
            problem = expected ? "the reference accepts, the reader rejects"
                               : "the reference rejects, the reader accepts";
        else if (expected)
            problem = firstDifference(*expected, *actual);
        if (!problem.empty() && ++m_failures <= 20)
            ADD_FAILURE() << problem << ": " << printable(document);
        ++(expected ? m_accepted : m_rejected);
    }

    int accepted() const { return m_accepted; }
    int rejected() const { return m_rejected; }
    int excluded() const { return m_excluded; }
    int failures() const { return m_failures; }

private:
    int m_accepted = 0;
    int m_rejected = 0;
    int m_excluded = 0;
    int m_failures = 0;
};

// ---------------------------------------------------------------------------------------------
// The generator. mt19937 is specified to the bit, and taking its output modulo n avoids the
// library-specific distributions, so the documents are the same everywhere.

using Random = std::mt19937;

size_t pick(Random& random, size_t count)
{
    return size_t(random() % count);
}

bool chance(Random& random, int percent)
{
    return int(random() % 100) < percent;
}

template<typename T, size_t N>
const T& pickFrom(Random& random, const T (&pool)[N])
{
    return pool[pick(random, N)];
}

// Spellings of pid and clients, good and bad.
constexpr const char* kGoodIntegers[] = {"0", "7", "4242", "-17", "-0", "2.0", "1e2", "1E+2", "1e-0", "100e-2",
                                         "0.5e1", "9223372036854775807", "-9223372036854775808", "0e400"};
constexpr const char* kBadIntegers[] = {"2.5", "-2.5", "25e-1", "0.1", "1e-5", "9223372036854775808", "1e19",
                                        "99999999999999999999", "-1e300"};

// String values, written as JSON.
constexpr const char* kGoodTexts[] = {
    R"("studio")", R"("")", R"("1.4.2")", "\"caf\xC3\xA9\"", R"("caf\u00e9")", R"("\ud83d\ude00 smile")",
    "\"\xF0\x9F\x98\x80\"", R"("tab\tquote\"slash\/back\\")", R"("\b\f\n\r")", R"("nul\u0000byte")",
    R"("\uFFFE\u0041")", "\"\xEF\xBF\xBE\"", "\"del\x7F\""};
constexpr const char* kBadTexts[] = {"\"\xFF\"",           "\"\xED\xA0\x80\"", "\"\xC0\xAF\"", "\"\xF4\x90\x80\x80\"",
                                     "\"\xC3\"",           "\"\x80\"",         R"("\u12")", R"("\u")"};

constexpr const char* kTimestamps[] = {
    R"("2025-01-31T12:34:56Z")", R"("2025-01-31T12:34:56.123456Z")", R"("2025-01-31T13:34:56+01:00")",
    R"("2025-01-31T12:34:56.5-02:30")", R"("2025-01-31 12:34:56")", R"("2025-01-31T12:34:56\u005a")",
    R"("tomorrow")"};

constexpr const char* kOtherValues[] = {
    "null", "true", "false", "{}", "[]", R"(["x"])", R"([null])", R"({"a": [1, {"b": null}], "c": "\u00e9"})",
    R"([["eu-1"]])", R"(["eu-1", 2])", R"(["eu-1", "us-2", "caf\u00e9"])"};

constexpr const char* kEntryLists[] = {
    R"([{"agent": "a", "where": "w"}])", R"([{"agent": "a", "where": "w"}, {"agent": "b", "where": "x", "run": null}])",
    R"([{"agent": "a", "where": "w"}, 3])", R"([{"agent": "a"}])", R"([{"agent": "a", "where": "w", "detail": 5}])"};

struct Member {
    QByteArray key;    // as written between the quotes, escapes and all
    QByteArray value;  // JSON text
};
using Members = std::vector<Member>;

Members baseEntry()
{
    return {{"agent", R"("coder")"},    {"where", R"("repo-a")"}, {"detail", R"("approve?")"},
            {"session", R"("main")"}, {"window", R"("2")"},       {"run", R"("r-12")"}};
}

QByteArray whitespace(Random* random)
{
    static constexpr const char* kSpaces[] = {"", "", " ", "\n  ", "\t", "\r\n "};
    return random ? pickFrom(*random, kSpaces) : " ";
}

QByteArray objectText(const Members& members, Random* random = nullptr)
{
    // One draw per statement, so that the order of draws does not depend on the compiler.
    QByteArray text = "{" + whitespace(random);
    for (size_t i = 0; i < members.size(); ++i) {
        if (i > 0)
            text += "," + whitespace(random);
        text += '"' + members[i].key + '"';
        text += whitespace(random) + ':';
        text += whitespace(random) + members[i].value;
        text += whitespace(random);
    }
    return text + "}";
}

QByteArray& valueOf(Members& members, QByteArrayView key)
{
    const auto found = std::find_if(members.begin(), members.end(), [&](const Member& m) { return m.key == key; });
    Q_ASSERT(found != members.end());
    return found->value;
}

Members baseRecord()
{
    return {{"pid", "4242"},
            {"name", R"("studio")"},
            {"version", R"("1.4.2")"},
            {"updated_at", R"("2025-01-31T12:34:56Z")"},
            {"relays", R"(["eu-1", "us-2"])"},
            {"clients", "2"},
            {"last_error", R"("relay timeout")"},
            {"needs_you", "[" + objectText(baseEntry()) + "]"},
            {"extra", R"({"ignored": [true, {"deep": [null, -1.5e-3]}]})"}};
}

QByteArray randomValue(Random& random, int depth)
{
    switch (pick(random, depth > 0 ? 6 : 4)) {
    case 0:
        return chance(random, 80) ? pickFrom(random, kGoodTexts) : pickFrom(random, kBadTexts);
    case 1:
        return chance(random, 50) ? pickFrom(random, kGoodIntegers) : pickFrom(random, kBadIntegers);
    case 2:
        return pickFrom(random, {"true", "false", "null", "3.25", "-0.5e-3"});
    case 3:
        return pickFrom(random, kOtherValues);
    case 4: {
        QByteArray text = "[";
        for (size_t i = 0, count = pick(random, 4); i < count; ++i)
            text += (i ? ", " : "") + randomValue(random, depth - 1);
        return text + "]";
    }
    default: {
        Members members;
        for (size_t i = 0, count = pick(random, 4); i < count; ++i)
            members.push_back({pickFrom(random, {"a", "b", "pid", "caf\\u00e9", ""}), randomValue(random, depth - 1)});
        return objectText(members, &random);
    }
    }
}

void shuffle(Members& members, Random& random)
{
    for (size_t i = members.size(); i > 1; --i)
        std::swap(members[i - 1], members[pick(random, i)]);
}

// Changes of a member that a random record may get: a bad or null value, a duplicate, an escaped key.
void roughen(Members& members, Random& random, int percent)
{
    for (size_t i = 0; i < members.size(); ++i) {
        if (!chance(random, percent))
            continue;
        switch (pick(random, 5)) {
        case 0:
            members[i].value = randomValue(random, 2);
            break;
        case 1:
            members[i].value = "null";
            break;
        case 2:
            members.push_back({members[i].key, randomValue(random, 1)});
            break;
        case 3:
            members.insert(members.begin() + qsizetype(i), {members[i].key, randomValue(random, 1)});
            ++i;
            break;
        default:
            if (!members[i].key.isEmpty())
                members[i].key = "\\u00" + QByteArray::number(uchar(members[i].key[0]), 16) + members[i].key.mid(1);
            break;
        }
    }
}

QByteArray randomRecord(Random& random, int roughness)
{
    Members record = baseRecord();
    for (Member& member : record) {
        if (member.key == "pid" || member.key == "clients")
            member.value = chance(random, 90) ? pickFrom(random, kGoodIntegers) : pickFrom(random, kBadIntegers);
        else if (member.key == "updated_at")
            member.value = pickFrom(random, kTimestamps);
        else if (member.key == "name" || member.key == "version" || member.key == "last_error")
            member.value = chance(random, 90) ? pickFrom(random, kGoodTexts) : pickFrom(random, kBadTexts);
        else if (member.key == "extra")
            member.value = randomValue(random, 4);
    }
    QByteArray entries = "[";
    for (size_t i = 0, count = pick(random, 4); i < count; ++i) {
        Members entry = baseEntry();
        for (Member& member : entry)
            member.value = chance(random, 92) ? QByteArray(pickFrom(random, kGoodTexts)) : randomValue(random, 1);
        for (size_t j = entry.size(); j > 2; --j) {
            if (chance(random, 30))
                entry.erase(entry.begin() + qsizetype(j - 1));
        }
        roughen(entry, random, roughness);
        shuffle(entry, random);
        entries += (i ? "," : "") + whitespace(&random);
        entries += objectText(entry, &random);
    }
    valueOf(record, "needs_you") = entries + "]";
    valueOf(record, "relays") = pickFrom(random, {R"([])", R"(["eu-1"])", R"(["eu-1", "us-2", "caf\u00e9"])", "null"});
    for (const char* optional : {"relays", "last_error", "needs_you", "extra"}) {
        if (chance(random, 25))
            std::erase_if(record, [&](const Member& m) { return m.key == optional; });
    }
    roughen(record, random, roughness);
    shuffle(record, random);
    QByteArray text = whitespace(&random);
    text += objectText(record, &random);
    return text + whitespace(&random);
}

// Arrays around objects, `depth` containers in all.
QByteArray nested(int depth)
{
    const int arrays = depth / 2, objects = depth - arrays;
    return QByteArray(arrays, '[') + QByteArray("{\"a\":").repeated(objects) + "1" + QByteArray(objects, '}')
        + QByteArray(arrays, ']');
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TEST(JsonReader, DecodesStatusRecordsExactlyAsQJsonDocumentDid)
{
    Random random(20250131);
    Comparison comparison;

    // Every status key and every key of a waiting session, replaced by each kind of value, dropped,
    // and given a duplicate before and after it.
    std::vector<QByteArray> values;
    for (const char* v : kGoodIntegers)
        values.emplace_back(v);
    for (const char* v : kBadIntegers)
        values.emplace_back(v);
    for (const char* v : kGoodTexts)
        values.emplace_back(v);
    for (const char* v : kBadTexts)
        values.emplace_back(v);
    for (const char* v : kTimestamps)
        values.emplace_back(v);
    for (const char* v : kOtherValues)
        values.emplace_back(v);
    for (const char* v : kEntryLists)
        values.emplace_back(v);
    const Members record = baseRecord();
    const Members entry = baseEntry();
    const auto withEntry = [&](const Members& changed) {
        Members copy = record;
        valueOf(copy, "needs_you") = "[" + objectText(changed) + "]";
        return copy;
    };
    for (size_t field = 0; field < record.size() + entry.size(); ++field) {
        const bool inEntry = field >= record.size();
        const size_t index = inEntry ? field - record.size() : field;
        const Members& members = inEntry ? entry : record;
        const auto emit = [&](const Members& changed) {
            comparison.check(objectText(inEntry ? withEntry(changed) : changed));
        };
        Members dropped = members;
        dropped.erase(dropped.begin() + qsizetype(index));
        emit(dropped);
        for (const QByteArray& value : values) {
            Members changed = members;
            changed[index].value = value;
            emit(changed);
            Members before = members;
            before.insert(before.begin() + qsizetype(index), {members[index].key, value});
            emit(before);
            Members after = members;
            after.push_back({members[index].key, value});
            emit(after);
        }
    }

    // Records made at random, some with bad values, nulls, duplicates and escaped keys.
    for (int i = 0; i < 1500; ++i)
        comparison.check(randomRecord(random, i % 3 == 0 ? 0 : 8));

    // Every truncation of a few valid records.
    for (const QByteArray& whole : {objectText(record), randomRecord(random, 0), randomRecord(random, 0)}) {
        for (qsizetype size = 0; size < whole.size(); ++size)
            comparison.check(whole.first(size));
    }

    // Random byte flips, favouring the bytes that mean something to JSON or to UTF-8.
    static constexpr char kMeaningful[] = "{}[]\",:\\ 0123456789.-+eEntfu\x01\x7F\x80\xBF\xC3\xED\xF0\xFF";
    for (int i = 0; i < 2000; ++i) {
        QByteArray document = i % 4 == 0 ? objectText(record) : randomRecord(random, 0);
        for (size_t flips = 1 + pick(random, 3); flips > 0; --flips) {
            const qsizetype at = qsizetype(pick(random, size_t(document.size())));
            document[at] = chance(random, 70) ? kMeaningful[pick(random, sizeof kMeaningful - 1)] : char(random());
        }
        comparison.check(document);
    }

    // A byte order mark, and nesting at the deepest level both accept and one beyond it.
    comparison.check("\xEF\xBB\xBF" + objectText(record));
    comparison.check("\xEF\xBB\xBF\xEF\xBB\xBF" + objectText(record));
    for (int depth : {JsonReader::kMaxDepth, JsonReader::kMaxDepth + 1}) {
        Members deep = record;
        valueOf(deep, "extra") = nested(depth - 1);  // under the record's own object
        comparison.check(objectText(deep));
    }

    EXPECT_EQ(comparison.failures(), 0);
    // The generator must reach both verdicts often, or the comparison proves little.
    EXPECT_GT(comparison.accepted(), 1000);
    EXPECT_GT(comparison.rejected(), 1000);
    EXPECT_LT(comparison.excluded(), comparison.accepted() + comparison.rejected());
}

TEST(JsonReader, PartsFromQJsonDocumentOnlyWhereItShould)
{
    // The kinds of document the comparison above leaves out, each with what the reader does.
    struct Case { const char* key; const char* value; bool accepted; const char* why; };
    const Case cases[] = {
        {"name", R"("\ud800")", false, "an unpaired surrogate escape, which QJsonDocument keeps as a broken half"},
        {"name", R"("\udc00x")", false, "a low surrogate escape with no high one before it"},
        {"name", R"("\ud83dx")", false, "a high surrogate escape with no low one after it"},
        {"name", R"("\q")", false, "an unknown escape, which QJsonDocument reads as its letter"},
        {"name", "\"raw\x01" "ctrl\"", false, "an unescaped control character, which QJsonDocument takes"},
        {"extra", ".5", false, "a number without integer digits, which QJsonDocument takes"},
        {"extra", "1.", false, "a number without fraction digits, which QJsonDocument takes"},
        {"extra", "1e400", true, "a number beyond a double, which QJsonDocument refuses even where unread"},
        {"extra", "1e-400", true, "a number below a double, likewise"},
        {"pid", "-9223372036854775809", false, "below 64 bits, though a double rounds it to -2^63"},
        {"pid", "9223372036854775807.0", true, "within 64 bits, though a double rounds it to 2^63"},
        {"pid", "1.0000000000000001", false, "a fraction, though a double rounds it to 1"},
        {"pid", "123456789012345678.0", true, "whole, though a double would change its value"},
    };
    for (const Case& c : cases) {
        Members record = baseRecord();
        for (Member& member : record) {
            if (member.key == c.key)
                member.value = c.value;
        }
        const QByteArray document = objectText(record);
        EXPECT_TRUE(differsByDesign(document)) << c.why;
        const std::optional<Status> actual = decodeStatus(document);
        EXPECT_EQ(actual.has_value(), c.accepted) << c.why;
        const std::optional<Status> expected = reference::decodeStatus(document);
        const bool same = expected.has_value() == actual.has_value()
            && (!expected || firstDifference(*expected, *actual).empty());
        EXPECT_FALSE(same) << "no longer a difference: " << c.why;
    }
}

TEST(JsonReader, DecodesEveryEscapeAndRefusesBrokenText)
{
    struct Case { QByteArray json; std::optional<std::u16string_view> expected; };
    const Case cases[] = {
        {R"("plain")", u"plain"},
        {R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
        {R"("caf\u00e9 \u00C9")", u"caf\u00e9 \u00c9"},
        {R"("\ud83d\ude00")", u"\U0001F600"},
        {R"("\uD83D\uDE00")", u"\U0001F600"},
        {R"("a\u0000b")", u"a\0b"sv},
        {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", u"caf\u00e9 \U0001F600"},
        {"\"\xEF\xBF\xBE\"", u"\uFFFE"},  // a noncharacter is still a character
        // A byte order mark inside a string is a character of it, first or not, escaped or not.
        {R"("\ufeffbom")", u"\uFEFFbom"},
        {"\"\xEF\xBB\xBF" "bom\"", u"\uFEFFbom"},
        {"\"\xEF\xBB\xBF\xEF\xBB\xBF\"", u"\uFEFF\uFEFF"},
        {R"("\ud800")", std::nullopt},          // unpaired surrogate escapes
        {R"("\ud800x")", std::nullopt},
        {R"("\ud800\u0041")", std::nullopt},
        {R"("\ud800\ud800")", std::nullopt},
        {R"("\udc00")", std::nullopt},
        {R"("\ude00\ud83d")", std::nullopt},
        {R"("\u12")", std::nullopt},
        {R"("\u12g4")", std::nullopt},
        {R"("\q")", std::nullopt},
        {R"("\'")", std::nullopt},
        {R"("\")", std::nullopt},
        {"\"tab\tinside\"", std::nullopt},
        {QByteArray("\"nul\0inside\"", 12), std::nullopt},
        {"\"\xFF\"", std::nullopt},
        {"\"\x80\"", std::nullopt},              // a continuation byte without a lead
        {"\"\xC3\"", std::nullopt},              // a lead byte without its continuation
        {"\"\xC0\xAF\"", std::nullopt},          // overlong
        {"\"\xE0\x80\xAF\"", std::nullopt},      // overlong
        {"\"\xED\xA0\x80\"", std::nullopt},      // an encoded surrogate
        {"\"\xF4\x90\x80\x80\"", std::nullopt},  // beyond U+10FFFF
        {"\"\xF5\x80\x80\x80\"", std::nullopt},
        {R"("unterminated)", std::nullopt},
    };
    for (const Case& c : cases) {
        JsonReader reader(c.json);
        QString text;
        const bool read = reader.readString(text) && reader.finish();
        EXPECT_EQ(read, c.expected.has_value()) << printable(c.json);
        if (read && c.expected) {
            EXPECT_EQ(text, QStringView(*c.expected).toString()) << printable(c.json);
        }
    }
}

TEST(JsonReader, ReadsWholeNumbersFromTheirExactValue)
{
    constexpr qint64 kMin = std::numeric_limits<qint64>::min(), kMax = std::numeric_limits<qint64>::max();
    struct Case { const char* json; std::optional<qint64> expected; };
    const Case cases[] = {
        {"0", 0},
        {"-0", 0},
        {"4242", 4242},
        {"2.0", 2},
        {"1e2", 100},
        {"1E+2", 100},
        {"12.30e1", 123},
        {"0.5e1", 5},
        {"10000000000000000000e-1", 1000000000000000000},
        {"0.0000000000000000000000001e25", 1},
        {"0e99999999999999999999", 0},
        {"9223372036854775807", kMax},
        {"-9223372036854775808", kMin},
        {"92233720368547758.07e2", kMax},
        // A double would get each of these wrong: round it out of range, into range, to another
        // number, or to a whole one.
        {"9223372036854775807.0", kMax},
        {"-9223372036854775809", std::nullopt},
        {"123456789012345678.0", 123456789012345678},
        {"1.0000000000000001", std::nullopt},
        {"2.5", std::nullopt},
        {"25e-1", std::nullopt},
        {"1e-400", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"1e19", std::nullopt},
        {"1e99999999999999999999", std::nullopt},
        {"-1e99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        JsonReader reader(QByteArrayView(c.json, qsizetype(std::strlen(c.json))));
        EXPECT_EQ(reader.readInteger(), c.expected) << c.json;
        EXPECT_TRUE(reader.finish()) << c.json;
    }

    for (const char* json :
         {"01", "-", "+1", ".5", "1.", "1.e5", "-.5", "1e", "1e+", "0x10", "--1", "Infinity", "NaN"}) {
        JsonReader reader(QByteArrayView(json, qsizetype(std::strlen(json))));
        reader.readInteger();
        EXPECT_FALSE(reader.finish()) << json << " is no JSON number";
    }
}

TEST(JsonReader, SkipsAnyValueButOnlyJson)
{
    struct Case { QByteArray json; bool valid; };
    const Case cases[] = {
        {R"({"a": [1, -2.5e+3, 0.5E-1, "x\u0041", true, false, null, {}, [], {"b": [[{}]]}], "": 0})", true},
        {" \t\r\n{}\n ", true},
        {"\xEF\xBB\xBF{}", true},  // one byte order mark at the very start
        {R"("bare")", true},
        {"null", true},
        {"", false},
        {"  ", false},
        {"{", false},
        {"{}}", false},
        {"{} x", false},
        {"{}\v", false},
        {"\f{}", false},
        {QByteArray("{}\0", 3), false},
        {"\xEF\xBB\xBF\xEF\xBB\xBF{}", false},
        {" \xEF\xBB\xBF{}", false},
        {"{,}", false},
        {R"({"a" 1})", false},
        {R"({"a":})", false},
        {R"({"a":1,})", false},
        {R"({"a":1 "b":2})", false},
        {"[1,]", false},
        {"[,1]", false},
        {"[1 2]", false},
        {"{1: 2}", false},
        {"{'a': 1}", false},
        {"[tru]", false},
        {"[nul]", false},
        {"[truefalse]", false},
        {"nulls", false},
        {"[1}", false},
        {R"({"a": ]})", false},
        {"{\"\xFF\": 1}", false},    // invalid UTF-8 in a key
        {R"(["\ud800"])", false},     // an unpaired surrogate deep in a skipped value
        {"[\"a\x01\"]", false},
    };
    for (const Case& c : cases) {
        JsonReader reader(c.json);
        EXPECT_EQ(reader.skipValue() && reader.finish(), c.valid) << printable(c.json);
    }
}

TEST(JsonReader, LimitsNestingWithoutRecursing)
{
    const auto accepts = [](const QByteArray& json) {
        JsonReader reader(json);
        return reader.skipValue() && reader.finish();
    };
    EXPECT_TRUE(accepts(nested(JsonReader::kMaxDepth)));
    EXPECT_FALSE(accepts(nested(JsonReader::kMaxDepth + 1)));
    EXPECT_FALSE(accepts(QByteArray(1'000'000, '['))) << "a hostile file ends at the limit";

    // The levels a caller opened itself count too.
    for (int depth : {JsonReader::kMaxDepth - 1, JsonReader::kMaxDepth}) {
        const QByteArray json = "{\"k\": " + nested(depth) + "}";
        JsonReader reader(json);
        QByteArrayView key;
        ASSERT_TRUE(reader.beginObject() && reader.nextKey(key));
        const bool accepted = reader.skipValue() && !reader.nextKey(key) && reader.finish();
        EXPECT_EQ(accepted, depth < JsonReader::kMaxDepth) << depth;
    }
}

TEST(JsonReader, HandsOutKeysUnescapedAndFailsOnCallsOutOfTurn)
{
    JsonReader reader(R"({"pi\u0064": 1, "caf\u00e9": "x", "z": 2})");
    QByteArrayView key;
    ASSERT_TRUE(reader.beginObject());
    ASSERT_TRUE(reader.nextKey(key));
    EXPECT_EQ(key, "pid");
    EXPECT_EQ(reader.readInteger(), 1);
    ASSERT_TRUE(reader.nextKey(key));
    EXPECT_EQ(key, "caf\xC3\xA9");
    EXPECT_FALSE(reader.nextKey(key)) << "a key's value comes before the next key";
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.peek(), JsonKind::Invalid);
    EXPECT_FALSE(reader.finish());

    JsonReader array("[1]");
    EXPECT_FALSE(array.beginObject());
    EXPECT_FALSE(array.beginArray()) << "no call leaves the failed state";
}
