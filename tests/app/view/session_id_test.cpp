#include "view/session_id.h"

#include <gtest/gtest.h>

#include <set>

using namespace Qt::StringLiterals;

namespace {

const NeedsYou kCoder{.agent = u"coder"_s, .where = u"repo-a"_s, .detail = u"approve?"_s, .run = u"r-1"_s};

}  // namespace

TEST(SessionIds, StayWithTheirEntryAndTellEveryEntryApart)
{
    NeedsYou empty = kCoder;
    empty.detail = u""_s;
    NeedsYou absent = kCoder;
    absent.detail.reset();
    NeedsYou moved = kCoder;  // a field's text moved into the next field
    moved.detail = u"approve?\u001fr-1"_s;
    moved.run.reset();
    const std::vector<NeedsYou> entries{kCoder, empty, absent, moved, kCoder};

    const std::vector<QString> ids = sessionIds(entries);
    EXPECT_EQ(std::set<QString>(ids.begin(), ids.end()).size(), entries.size()) << "a duplicate has an id of its own";
    EXPECT_EQ(sessionIds(entries), ids) << "read again, or by another process, the same";
    // Another session arriving at the front moves places, never ids.
    std::vector<NeedsYou> later = entries;
    later.insert(later.begin(), NeedsYou{.agent = u"reviewer"_s, .where = u"docs"_s});
    const std::vector<QString> laterIds = sessionIds(later);
    EXPECT_EQ(std::vector<QString>(laterIds.begin() + 1, laterIds.end()), ids);
    // Pinned: an id a script kept works with the next release too.
    EXPECT_EQ(ids.front(), u"s-214288f0f40b"_s);
    for (const QString& id : ids)
        EXPECT_TRUE(looksLikeSessionId(id)) << id.toStdString();
}

TEST(SessionIds, AreWrittenSoThatNoneReadsAsAPlace)
{
    struct Case { QString text; bool expected; };
    const Case cases[] = {
        {u"s-0123456789ab"_s, true}, {u"s-0123456789AB"_s, false}, {u"s-0123456789a"_s, false},
        {u"s-0123456789abc"_s, false}, {u"0123456789ab"_s, false}, {u"1"_s, false}, {u""_s, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(looksLikeSessionId(c.text), c.expected) << c.text.toStdString();
}
