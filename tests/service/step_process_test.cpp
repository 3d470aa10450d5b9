#include "service/step_process.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <thread>

#include <signal.h>

using namespace Qt::StringLiterals;

namespace {

QString shown(const QString& text)
{
    QString escaped = text;
    escaped.replace(u'\r', u"\\r"_s).replace(u'\n', u"\\n"_s);
    return escaped;
}

QString fedInPieces(const QByteArray& output, qsizetype pieceSize)
{
    LastLine line;
    for (qsizetype at = 0; at < output.size(); at += pieceSize)
        line.feed(QByteArrayView(output).sliced(at, std::min(pieceSize, output.size() - at)));
    return line.result();
}

}  // namespace

TEST(LastLine, FollowsTheLineRule)
{
    struct Case {
        QByteArray output;
        QString expected;
    };
    const Case cases[] = {
        {"step one ok\nerror: not signed in\n", u"error: not signed in"_s},
        {"", u"Failed"_s},
        {"\n\n\n", u"Failed"_s},
        {"ok\n   \n", u"   "_s},
        {"done\n\n\n", u"done"_s},
        {"earlier\nno line feed at the end", u"no line feed at the end"_s},
        {"first\r\nsecond\r\n", u"first\r\nsecond\r\n"_s},
        {"\r\n", u"\r\n"_s},
        {"a\rb\n", u"a\rb"_s},
        {"only\r", u"only\r"_s},
        {"one\r\r\ntwo\n\r\n", u"\r\n"_s},
        {"größe ✓ 😀\n", u"größe ✓ 😀"_s},
        {"\xef\xbb\xbf" "bom\n", u"\uFEFFbom"_s},
        {"first\n\xef\xbb\xbf" "bom", u"\uFEFFbom"_s},
        {"bad \xff\nfine\n", u"Failed"_s},           // not UTF-8 anywhere: no text at all
        {"cut short \xe2\x82", u"Failed"_s},         // ends inside a character
        {"overlong \xc0\xaf\n", u"Failed"_s},
        {"surrogate \xed\xa0\x80\n", u"Failed"_s},
        {"past the range \xf4\x90\x80\x80\n", u"Failed"_s},
    };
    for (const Case& c : cases) {
        const QString label = shown(QString::fromLatin1(c.output));
        EXPECT_EQ(lastLine(c.output), c.expected) << label.toStdString();
        // Byte by byte splits every character and every CR LF pair across two chunks.
        EXPECT_EQ(fedInPieces(c.output, 1), c.expected) << "byte by byte: " << label.toStdString();
        EXPECT_EQ(fedInPieces(c.output, 3), c.expected) << "in threes: " << label.toStdString();
    }
}

TEST(LastLine, KeepsTheEndOfAnOverlongLineOnACharacterBoundary)
{
    // An odd number of ASCII bytes after the two-byte characters puts the cut on a continuation byte.
    const QByteArray line = "x" + QByteArray("é").repeated(LastLine::kKeptBytes) + "z";
    const QString expected = QString(LastLine::kKeptBytes / 2 - 1, u'é') + u'z';
    for (qsizetype pieceSize : {line.size() + 1, qsizetype(1000), qsizetype(4096)}) {
        EXPECT_EQ(fedInPieces(line, pieceSize), expected) << "unfinished, pieces of " << pieceSize;
        EXPECT_EQ(fedInPieces(line + "\n\n", pieceSize), expected) << "finished, pieces of " << pieceSize;
    }

    const QByteArray ascii(3 * LastLine::kKeptBytes, 'a');
    EXPECT_EQ(fedInPieces(ascii + "\n", 5000), QString(LastLine::kKeptBytes, u'a'));
    EXPECT_EQ(fedInPieces(ascii + "\nshort\n", 5000), u"short"_s);
    EXPECT_EQ(fedInPieces("short\n" + ascii + "\n\n", 7000), QString(LastLine::kKeptBytes, u'a'));
}

class RunStep : public testing::Test {
protected:
    QString tool(const QByteArray& script, int mode = 0755)
    {
        const QString path = m_dir.filePath(u"tool-%1"_s.arg(++m_count));
        writeFile(path, "#!/bin/sh\n" + script, mode);
        return path;
    }

    /// Runs the step on a thread of its own; empty when it has not ended within the deadline.
    static std::optional<StepOutcome> runWithin(const QString& path, std::chrono::seconds deadline)
    {
        std::packaged_task<StepOutcome()> task([path] { return runStep(path, {}); });
        std::future<StepOutcome> result = task.get_future();
        std::thread(std::move(task)).detach();
        if (result.wait_for(deadline) != std::future_status::ready)
            return std::nullopt;
        return result.get();
    }

    /// Kills the processes whose ids the tools wrote to the file, one per line.
    static void killListed(const QString& pidFile)
    {
        QFile file(pidFile);
        if (!file.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (const pid_t pid = pid_t(line.toLongLong()); pid > 0)
                ::kill(pid, SIGKILL);
        }
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

TEST_F(RunStep, SucceedsOnlyOnExitStatusZero)
{
    struct Case {
        QByteArray script;
        bool succeeded;
        QString lastLine;
    };
    const Case cases[] = {
        {"echo all good\n", true, u"all good"_s},
        {"exit 0\n", true, u"Failed"_s},
        {"printf 'step one ok\\nerror: not signed in\\n'\nexit 2\n", false, u"error: not signed in"_s},
        {"exit 1\n", false, u"Failed"_s},
        {"echo 'only on standard error' >&2\nexit 1\n", false, u"only on standard error"_s},
        {"echo out\necho err >&2\nexit 1\n", false, u"err"_s},
        {"kill -TERM $$\n", false, u"Failed"_s},
        {"echo 'printed, then killed'\nkill -KILL $$\n", false, u"printed, then killed"_s},
        {"printf 'not text \\377\\n'\nexit 1\n", false, u"Failed"_s},
        {"if read line; then echo 'read something'; else echo 'nothing to read'; fi\nexit 1\n", false,
         u"nothing to read"_s},
    };
    for (const Case& c : cases) {
        const StepOutcome outcome = runStep(tool(c.script), {});
        EXPECT_EQ(outcome.succeeded, c.succeeded) << c.script.toStdString();
        EXPECT_EQ(outcome.lastLine, c.lastLine) << c.script.toStdString();
    }
}

TEST_F(RunStep, PassesEachArgumentSeparatelyAndInheritsEnvironmentAndDirectory)
{
    ASSERT_EQ(::setenv("KIVO_STEP_TEST_MARK", "inherited", 1), 0);
    const QString path = tool("for a in \"$@\"; do printf '[%s]' \"$a\"; done\n"
                              "printf ' %s %s\\n' \"$KIVO_STEP_TEST_MARK\" \"$(pwd -P)\"\nexit 1\n");
    const StepOutcome outcome = runStep(path, {u"a b"_s, u"$HOME"_s, QString(), u"it's"_s, u"*"_s});
    ::unsetenv("KIVO_STEP_TEST_MARK");
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine,
              u"[a b][$HOME][][it's][*] inherited "_s + QDir::current().canonicalPath());
}

TEST_F(RunStep, ReportsWhyTheToolCouldNotStart)
{
    const QString missing = m_dir.filePath(u"bin/kivo"_s);
    StepOutcome outcome = runStep(missing, {u"up"_s});
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine, u"Couldn't start "_s + missing + u": No such file or directory"_s);

    const QString notExecutable = tool("exit 0\n", 0644);
    outcome = runStep(notExecutable, {});
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine, u"Couldn't start "_s + notExecutable + u": Permission denied"_s);
}

TEST_F(RunStep, DrainsOutputBeyondThePipeBufferBeforeWaiting)
{
    // A tool that writes more than the pipe holds would block forever if nobody read before waiting.
    const StepOutcome outcome = runStep(tool("head -c 1000000 /dev/zero | tr '\\0' 'a'\necho\necho finished\n"), {});
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine, u"finished"_s);
}

TEST_F(RunStep, ReadsUntilEveryWriterHasClosedThePipe)
{
    const StepOutcome outcome = runStep(tool("(sleep 0.3; echo 'from the background') &\necho early\nexit 1\n"), {});
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine, u"from the background"_s);
}

TEST_F(RunStep, KeepsOnlyTheEndOfHugeOutput)
{
    StepOutcome outcome = runStep(tool("yes 'filler line' | head -c 50000000\nprintf '\\nthe last line\\n'\nexit 4\n"), {});
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine, u"the last line"_s);

    outcome = runStep(tool("head -c 50000000 /dev/zero | tr '\\0' 'x'\nexit 1\n"), {});
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.lastLine, QString(LastLine::kKeptBytes, u'x'));
}

TEST_F(RunStep, JudgesAnExitedToolThoughAChildStillHoldsThePipe)
{
    // A daemon that the tool started and that kept its standard output: the run must not wait for it,
    // not even when the daemon never stops writing to it.
    struct Case { QByteArray child; QByteArray exit; bool succeeded; QString lastLine; };
    const Case cases[] = {
        {"sleep 60", "exit 0\n", true, u"the last line"_s},
        {"sleep 60", "exit 1\n", false, u"the last line"_s},
        {"sleep 60", "kill -KILL $$\n", false, u"the last line"_s},
        {"while :; do echo tick; sleep 0.2; done", "exit 3\n", false, u"tick"_s},
    };
    const QString pids = m_dir.filePath(u"pids"_s);
    for (const Case& c : cases) {
        const std::string label = (c.child + "; " + c.exit).toStdString();
        const QString path = tool("(" + c.child + ") &\necho $! >> '" + pids.toUtf8() + "'\n"
                                  "echo 'the last line'\n" + c.exit);
        const std::optional<StepOutcome> outcome = runWithin(path, std::chrono::seconds(40));
        killListed(pids);  // also lets a run that is still waiting end, before the test goes on
        ASSERT_TRUE(outcome) << "still busy: " << label;
        EXPECT_EQ(outcome->succeeded, c.succeeded) << label;
        EXPECT_EQ(outcome->lastLine, c.lastLine) << label;
    }
}

TEST_F(RunStep, LeavesAChildThatHoldsThePipeFreeToWriteAfterTheRun)
{
    // Closing the pipe under the daemon would kill it with SIGPIPE at its next line of output.
    const QString go = m_dir.filePath(u"go"_s);
    const QString wrote = m_dir.filePath(u"wrote"_s);
    const QString pids = m_dir.filePath(u"pids"_s);
    const QString path = tool("(until [ -e '" + go.toUtf8() + "' ]; do sleep 0.05; done\n"
                              " echo 'still here'\n echo yes > '" + wrote.toUtf8() + "'\n exec sleep 60) &\n"
                              "echo $! >> '" + pids.toUtf8() + "'\necho started\nexit 0\n");
    const std::optional<StepOutcome> outcome = runWithin(path, std::chrono::seconds(30));
    writeFile(go, "");
    const bool childWrote = waitUntil([&] { return QFileInfo::exists(wrote); });
    killListed(pids);
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->succeeded);
    EXPECT_EQ(outcome->lastLine, u"started"_s);
    EXPECT_TRUE(childWrote) << "the child died writing to the pipe";
}
