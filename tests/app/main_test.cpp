#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Loader, SaysInOneLineWhenTheTrayCannotBeLoaded)
{
    struct Case { const char* what; QByteArray module; };
    const Case cases[] = {{"no module", {}}, {"a broken module", "not a library"}};
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString program = dir.path() + u"/kivobar"_s;
        ASSERT_TRUE(QFile::copy(QStringLiteral(KIVOBAR_EXECUTABLE), program));
        if (!c.module.isNull()) {
            QFile module(dir.path() + u"/kivobar-tray.so"_s);
            ASSERT_TRUE(module.open(QIODevice::WriteOnly));
            module.write(c.module);
        }
        QProcess process;
        process.start(program, {});
        ASSERT_TRUE(process.waitForFinished(20'000)) << c.what;

        EXPECT_EQ(process.exitCode(), 1) << c.what;
        const QByteArray error = process.readAllStandardError();
        EXPECT_TRUE(error.startsWith("kivobar: cannot load the tray: ")) << c.what << ": " << error.toStdString();
        EXPECT_EQ(error.count('\n'), 1) << c.what;
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty()) << c.what;
    }
}
