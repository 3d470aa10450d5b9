#include "service/status.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono;

namespace {

// A complete, valid record; each rejection case below breaks exactly one thing in a copy of it.
constexpr const char* kComplete = R"({
  "pid": 4242, "name": "studio", "version": "1.4.2", "updated_at": "2025-01-31T12:34:56Z",
  "relays": ["eu-1", "us-2"], "clients": 2, "last_error": "relay timeout",
  "needs_you": [{"agent": "coder", "where": "repo-a", "detail": "approve?", "session": "main",
                 "window": "2", "run": "r-12"}],
  "extra": {"ignored": true}
})";

QByteArray replaced(const char* from, const char* to)
{
    QByteArray text(kComplete);
    EXPECT_TRUE(text.contains(from)) << from;
    return text.replace(from, to);
}

}  // namespace

TEST(DecodeStatus, ReadsEveryFieldAndIgnoresUnknownKeys)
{
    const std::optional<Status> status = decodeStatus(kComplete);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->pid, 4242);
    EXPECT_EQ(status->name, u"studio"_s);
    EXPECT_EQ(status->version, u"1.4.2"_s);
    EXPECT_EQ(status->updatedAt, sys_days{2025y / January / 31} + 12h + 34min + 56s);
    EXPECT_EQ(status->relays, QStringList({u"eu-1"_s, u"us-2"_s}));
    EXPECT_EQ(status->clients, 2);
    EXPECT_EQ(status->lastError, u"relay timeout"_s);
    ASSERT_TRUE(status->needsYou);
    const NeedsYou expected{u"coder"_s, u"repo-a"_s, u"approve?"_s, u"main"_s, u"2"_s, u"r-12"_s};
    EXPECT_EQ(*status->needsYou, std::vector<NeedsYou>{expected});
}

TEST(DecodeStatus, RejectsTheWholeDocumentForAnyBadPart)
{
    struct Case { const char* what; QByteArray bytes; };
    const Case cases[] = {
        {"not JSON", "{\"pid\": 1,"},
        {"an array", "[]"},
        {"a bare string", "\"status\""},
        {"empty", ""},
        {"pid missing", replaced(R"("pid": 4242,)", "")},
        {"pid null", replaced("4242", "null")},
        {"pid a string", replaced("4242", "\"4242\"")},
        {"pid beyond 64 bits", replaced("4242", "9223372036854775808")},
        {"pid a fraction", replaced("4242", "42.5")},
        {"name missing", replaced(R"("name": "studio",)", "")},
        {"version a number", replaced(R"("1.4.2")", "1.4")},
        {"updated_at missing", replaced(R"("updated_at": "2025-01-31T12:34:56Z",)", "")},
        {"updated_at a number", replaced(R"("2025-01-31T12:34:56Z")", "1738326896")},
        {"clients missing", replaced(R"("clients": 2,)", "")},
        {"clients null", replaced(R"("clients": 2)", R"("clients": null)")},
        {"clients 2.5", replaced(R"("clients": 2)", R"("clients": 2.5)")},
        {"clients a string", replaced(R"("clients": 2)", R"("clients": "2")")},
        {"relays a string", replaced(R"(["eu-1", "us-2"])", R"("eu-1")")},
        {"one relay not a string", replaced(R"(["eu-1", "us-2"])", R"(["eu-1", 2])")},
        {"last_error a number", replaced(R"("relay timeout")", "7")},
        {"needs_you an object", replaced(R"("needs_you": [)", R"("needs_you": {"x": )")},
        {"entry without where", replaced(R"("where": "repo-a", )", "")},
        {"entry not an object", replaced(R"("needs_you": [)", R"("needs_you": ["x", )")},
        {"entry detail a number", replaced(R"("approve?")", "3")},
        {"entry run an array", replaced(R"("r-12")", "[]")},
        {"a later duplicate of pid that is bad", replaced(R"("pid": 4242,)", R"("pid": 4242, "pid": 4.5,)")},
        {"a later duplicate of where that is null",
         replaced(R"("where": "repo-a", )", R"("where": "repo-a", "where": null, )")},
        {"pid below 64 bits", replaced("4242", "-9223372036854775809")},
        {"pid a fraction a double would round", replaced("4242", "1.0000000000000001")},
        {"something after the object", QByteArray(kComplete) + " {}"},
        {"invalid UTF-8 under an unknown key", replaced(R"("ignored": true)", "\"ignored\": \"\xC0\xAF\"")},
        {"an unpaired surrogate escape", replaced(R"("studio")", R"("stu\ud800dio")")},
        {"an unknown escape", replaced(R"("studio")", R"("stu\dio")")},
        {"too deeply nested", replaced("true", (QByteArray(1024, '[') + QByteArray(1024, ']')).constData())},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(decodeStatus(c.bytes)) << c.what;
}

TEST(DecodeStatus, AcceptsOptionalKeysAbsentOrNullAndKeepsThemApart)
{
    struct Case { const char* what; QByteArray bytes; std::optional<QStringList> relays; bool hasNeedsYou; };
    const Case cases[] = {
        {"relays empty", replaced(R"(["eu-1", "us-2"])", "[]"), QStringList(), true},
        {"relays null", replaced(R"(["eu-1", "us-2"])", "null"), std::nullopt, true},
        {"relays absent", replaced(R"("relays": ["eu-1", "us-2"],)", ""), std::nullopt, true},
        {"needs_you null", replaced(R"("needs_you": [)", R"("needs_you": null, "x": [)"),
         QStringList({u"eu-1"_s, u"us-2"_s}), false},
        {"relays null in a later duplicate", replaced(R"("clients": 2)", R"("clients": 2, "relays": null)"),
         std::nullopt, true},
        {"a bad pid replaced by a later duplicate", replaced(R"("pid": 4242,)", R"("pid": "x", "pid": 4242,)"),
         QStringList({u"eu-1"_s, u"us-2"_s}), true},
        {"keys spelled with escapes", replaced(R"("relays")", R"("rel\u0061ys")"),
         QStringList({u"eu-1"_s, u"us-2"_s}), true},
    };
    for (const Case& c : cases) {
        const std::optional<Status> status = decodeStatus(c.bytes);
        ASSERT_TRUE(status) << c.what;
        EXPECT_EQ(status->relays, c.relays) << c.what;
        EXPECT_EQ(status->needsYou.has_value(), c.hasNeedsYou) << c.what;
    }

    const std::optional<Status> bare = decodeStatus(
        R"({"pid": -9223372036854775807, "name": "", "version": "", "updated_at": "", "clients": 9223372036854775807})");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->pid, -9223372036854775807);
    EXPECT_EQ(bare->clients, std::numeric_limits<qint64>::max());
    EXPECT_FALSE(bare->lastError);
    EXPECT_EQ(bare->updatedAt, kDistantPast) << "an unreadable timestamp is no error";
}

TEST(ParseInternetDateTime, AcceptsBothFormsAndRejectsTheRest)
{
    const Timestamp second = sys_days{2025y / January / 31} + 12h + 34min + 56s;
    struct Case { const char16_t* text; std::optional<Timestamp> expected; };
    const Case cases[] = {
        {u"2025-01-31T12:34:56Z", second},
        {u"2025-01-31T12:34:56.123Z", second + 123ms},
        {u"2025-01-31T12:34:56.123456789Z", second + 123456us},
        {u"2025-01-31T13:34:56+01:00", second},
        {u"2025-01-31T10:04:56.5-02:30", second + 500ms},
        {u"2024-02-29T00:00:00Z", sys_days{2024y / February / 29}},
        {u"2025-01-31 12:34:56", std::nullopt},
        {u"2025-01-31T12:34:56", std::nullopt},
        {u"2025-01-31T12:34Z", std::nullopt},
        {u"2025-01-31T12:34:56.Z", std::nullopt},
        {u"2025-02-29T12:34:56Z", std::nullopt},
        {u"2025-01-31T24:00:00Z", std::nullopt},
        {u"2025-01-31T12:34:56+0100", std::nullopt},
        {u"2025-01-31T12:34:56Z ", std::nullopt},
        {u"\u0662025-01-31T12:34:56Z", std::nullopt},
        {u"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseInternetDateTime(QStringView(c.text)), c.expected) << QString::fromUtf16(c.text).toStdString();
}

TEST(NeedsYou, IsIdentifiedByAllSixFields)
{
    const NeedsYou base{u"coder"_s, u"repo-a"_s, u"approve?"_s, u"main"_s, u"2"_s, u"r-12"_s};
    NeedsYou otherRun = base;
    otherRun.run = u"r-13"_s;
    NeedsYou noDetail = base;
    noDetail.detail.reset();
    NeedsYou emptyDetail = base;
    emptyDetail.detail = QString();

    EXPECT_EQ(base, NeedsYou(base));
    EXPECT_EQ(qHash(base), qHash(NeedsYou(base)));
    EXPECT_NE(base, otherRun);
    EXPECT_NE(noDetail, emptyDetail) << "an absent field never equals a present one";
    const QSet<NeedsYou> set{base, NeedsYou(base), otherRun, noDetail, emptyDetail};
    EXPECT_EQ(set.size(), 4);
}
