#include "service/shell_quote.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(ShellQuote, EscapesEveryApostropheAndWrapsTheWhole)
{
    struct Case { QString text; QString expected; };
    for (const Case& c : {
             Case{u""_s, u"''"_s},
             Case{u"main"_s, u"'main'"_s},
             Case{u"it's"_s, u"'it'\\''s'"_s},
             Case{u"''"_s, u"''\\'''\\'''"_s},
             Case{u"/tmp/it's/.kivo/bin/kivo"_s, u"'/tmp/it'\\''s/.kivo/bin/kivo'"_s},
             Case{u"$x \"y\" \\z"_s, u"'$x \"y\" \\z'"_s},
         })
        EXPECT_EQ(shellQuote(c.text), c.expected) << c.text.toStdString();
}

TEST(ShellQuote, ShellReadsTheWordBackUnchanged)
{
    for (const QString& text : {u""_s, u"it's"_s, u"'"_s, u"a b\tc\nd"_s, u"$HOME `id` $(id) \\ \" ; | & * ? ~"_s,
                                u"-n"_s, u"ünï · cödé — …"_s}) {
        QProcess shell;
        shell.start(u"/bin/sh"_s, {u"-c"_s, u"printf '%s' "_s + shellQuote(text)});
        ASSERT_TRUE(shell.waitForFinished(20'000));
        EXPECT_EQ(shell.readAllStandardOutput(), text.toUtf8()) << text.toStdString();
    }
}
