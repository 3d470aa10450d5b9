#include "service/version.h"

#include <QString>

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct Case {
    const char16_t* candidate;
    const char16_t* reference;
    bool expected;
};

void expectAll(std::initializer_list<Case> cases)
{
    for (const Case& c : cases) {
        const QString candidate = QString::fromUtf16(c.candidate);
        const QString reference = QString::fromUtf16(c.reference);
        EXPECT_EQ(newer(candidate, reference), c.expected)
            << '"' << candidate.toStdString() << "\" vs \"" << reference.toStdString() << '"';
    }
}

}  // namespace

TEST(Newer, ComparesNumbersThenSuffixes)
{
    expectAll({
        {u"1.2.4", u"1.2.3", true},
        {u"1.2.3", u"1.2.4", false},
        {u"1.2.3", u"1.2.3", false},
        {u"1.10.0", u"1.9.9", true},
        {u"2.0.0", u"1.99.99", true},
        {u"1.2.4-alpha", u"1.2.3", true},
        {u"1.2.3", u"1.2.4-alpha", false},
        {u"1.2.3", u"1.2.3-rc.1", true},
        {u"1.2.3-rc.1", u"1.2.3", false},
        {u"1.2.3-rc.2", u"1.2.3-rc.1", true},
        {u"1.2.3-rc.10", u"1.2.3-rc.9", false},
        {u"1.2.3-rc.9", u"1.2.3-rc.10", true},
        {u"1.2.3-beta", u"1.2.3-alpha", true},
        {u"1.2.3-RC1", u"1.2.3-beta", false},
        {u"1.2.3-beta", u"1.2.3-RC1", true},
        {u"1.2.3-rc.1", u"1.2.3-rc", true},
        {u"1.2.3-rc", u"1.2.3-rc.1", false},
        {u"1.2.3-rc", u"1.2.3-rc", false},
        // Only the first "-" splits; the rest stays in the suffix.
        {u"1.2.3-rc-2", u"1.2.3-rc-10", true},
        {u"1.2.3--rc", u"1.2.3-rc", false},
        {u"1.2.3-rc", u"1.2.3--rc", true},
        // The build part is thrown away.
        {u"1.2.3+build.7", u"1.2.3+build.6", false},
        {u"1.2.3+a", u"1.2.3+b", false},
        {u"1.2.3+b", u"1.2.3+a", false},
        {u"1.2.3+7", u"1.2.3-rc.1", true},
        {u"1.2.3-rc+b", u"1.2.3-rc+a", false},
        {u"+1.2.4", u"1.2.3", true},
        {u"+1.2.3", u"1.2.3+", false},
        // A trailing "-" leaves an empty suffix, i.e. a release.
        {u"1.2.3-", u"1.2.3-rc", true},
        {u"1.2.3-", u"1.2.3", false},
        {u"1.2.3", u"1.2.3-", false},
        {u"-1.2.4", u"1.2.3", true},
        {u"--1.2.4", u"1.2.3", true},
        {u"01.02.04", u"1.2.3", true},
        {u"1..2.4", u"1.2.3", true},
        {u".1.2.4.", u"1.2.3", true},
        // Pieces that are not numbers are skipped, not rejected.
        {u"1.2.3.beta", u"1.2.2", true},
        {u"1.2.3.beta", u"1.2.3", false},
        {u"1.2.3", u"1.2.3.beta", false},
        {u"1.2.3.beta", u"1.2.3-rc", true},
        {u"1.2.x.4", u"1.2.3", true},
        // The full signed 64-bit range, and one past it skipped like a word.
        {u"9223372036854775807.0.0", u"9223372036854775806.9.9", true},
        {u"009223372036854775807.0.0", u"9223372036854775806.9.9", true},
        {u"9223372036854775808.1.2.3", u"1.2.2", true},
        {u"9223372036854775808.1.2.3", u"1.2.3", false},
        {u"1.2.3", u"9223372036854775808.1.2.3", false},
    });
}

TEST(Newer, AnswersFalseWhenEitherSideIsNotAVersion)
{
    expectAll({
        {u"v1.2.4", u"1.2.3", false},
        {u"1.2.4", u"v1.2.3", false},
        {u"v1.2.3", u"0.0.1", false},
        {u"0.0.1", u"v1.2.3", false},
        {u"1.3", u"1.2.3", false},
        {u"1.2.3", u"1.3", false},
        {u"1.2.3.1", u"1.2.3", false},
        {u"1.2.3", u"1.2.3.1", false},
        {u"1.2.3.4", u"9.9.9", false},
        {u"9.9.9", u"1.2.3.4", false},
        {u"1.2.4 ", u"1.2.3", false},
        {u" 1.2.4", u"1.2.3", false},
        {u"99999999999999999999.0.0", u"1.0.0", false},
        {u"1.0.0", u"99999999999999999999.0.0", false},
        {u"1.2.-3", u"1.2.2", false},
        {u"", u"1.0.0", false},
        {u"1.0.0", u"", false},
        {u"", u"", false},
        {u"---", u"1.0.0", false},
        {u"1.0.0", u"---", false},
        {u"+++", u"1.0.0", false},
        {u"1.0.0", u"+++", false},
        {u"-1.2.3", u"+++", false},
    });
}

TEST(Newer, ReadsWholeCharactersAndComparesCodePoints)
{
    expectAll({
        // A separator carrying a combining mark is an accented character, not a separator.
        {u"1.2.3.\u0301", u"1.2.2", false},
        {u"1.2\u0301.3", u"1.2.2", false},
        {u"1.2.2", u"1.2\u0301.3", false},
        {u"1.2.4-\u0301rc", u"1.2.3", false},
        {u"1.2.4+\u0301x", u"1.2.3", false},
        // A prepended mark joins the dot that follows it: "\u0600." is one character.
        {u"\u0600.1.2.3", u"1.2.2", false},
        {u"1.2.3-rc.\u0301", u"1.2.3-rc", true},
        // Digits of other scripts are not numbers.
        {u"\u0661.\u0662.\u0664", u"1.2.3", false},
        {u"1.2.\u0664", u"1.2.3", false},
        {u"1.2.3", u"1.2.\u0663", false},
        {u"1.2.\uFF14", u"1.2.3", false},
        // Canonically equivalent suffixes are the same release.
        {u"1.2.3-e\u0301", u"1.2.3-\u00e9", false},
        {u"1.2.3-\u00e9", u"1.2.3-e\u0301", false},
        // Composed first: e + acute is U+00E9, which sorts after "f".
        {u"1.2.3-e\u0301", u"1.2.3-f", true},
        {u"1.2.3-f", u"1.2.3-e\u0301", false},
        {u"1.2.3-\u00e9", u"1.2.3-z", true},
        // By code point, not UTF-16 unit: beyond the Basic Multilingual Plane sorts last.
        {u"1.2.3-\U0001F600", u"1.2.3-\uFF5E", true},
        {u"1.2.3-\uFF5E", u"1.2.3-\U0001F600", false},
        {u"1.2.3-\U0001F600", u"1.2.3-\uFFFD", true},
        {u"1.2.3-\uFFFD", u"1.2.3-\U0001F600", false},
        {u"1.2.3-rc\U0001F600", u"1.2.3-rc", true},
        // Broken UTF-16 still gets an answer.
        {u"1.2.4-\xD800", u"1.2.3", true},
        {u"1.2.3", u"1.2.3-\xDC00", true},
    });
}
