#include "platform/linux/xdg_autostart.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kAppId = u"io.kivo.KivoBar"_s;
const QString kExecutable = u"/opt/kivo/kivobar"_s;

const QByteArray kEntry = "[Desktop Entry]\nType=Application\nName=Kivo Bar\nExec=/usr/bin/kivobar\n";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// The lines of the entry at the path, for checks on single keys.
QList<QByteArray> entryLines(const QString& path)
{
    return readAll(path).split('\n');
}

/// Runs desktop-file-validate on the entry; empty when it accepts it or is not installed, else its complaint.
QString validatorComplaint(const QString& path)
{
    const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    if (validator.isEmpty())
        return {};
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(validator, {path});
    if (!process.waitForFinished(30000))
        return u"desktop-file-validate did not finish"_s;
    const QString output = QString::fromUtf8(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !output.isEmpty())
        return output.isEmpty() ? u"desktop-file-validate failed"_s : output;
    return {};
}

class XdgAutostartTest : public testing::Test {
protected:
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    QString userEntry() const { return m_configHome + u"/autostart/"_s + kAppId + u".desktop"_s; }
    QString systemEntry(int n) const { return path(u"system%1/autostart/"_s.arg(n)) + kAppId + u".desktop"_s; }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, path(u"home"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, m_configHome);
        environment.insert(u"XDG_CONFIG_DIRS"_s, path(u"system1"_s) + u':' + path(u"system2"_s));
        return environment;
    }

    XdgAutostart autostart(const QString& executable = kExecutable) const
    {
        return XdgAutostart(kAppId, executable, environment());
    }

    QTemporaryDir m_dir;
    QString m_configHome = path(u"config"_s);
};

TEST_F(XdgAutostartTest, TurningOnWritesAValidEntryAndTurningOffRemovesIt)
{
    XdgAutostart item = autostart();
    EXPECT_FALSE(item.enabled());

    const Outcome on = item.setEnabled(true);
    EXPECT_TRUE(on.ok) << on.message.toStdString();
    EXPECT_TRUE(on.message.isEmpty());
    EXPECT_TRUE(item.enabled());
    const QList<QByteArray> lines = entryLines(userEntry());
    EXPECT_EQ(lines.value(0), "[Desktop Entry]");
    EXPECT_TRUE(lines.contains("Exec=/opt/kivo/kivobar"));
    EXPECT_TRUE(lines.contains("Icon=io.kivo.KivoBar"));
    EXPECT_FALSE(lines.contains("Hidden=true"));
    EXPECT_EQ(validatorComplaint(userEntry()), QString()) << readAll(userEntry()).toStdString();
    // The base directory rules ask for directories only the user can enter.
    EXPECT_EQ(QFileInfo(path(u"config/autostart"_s)).permissions() & (QFile::ReadOther | QFile::ExeOther),
              QFile::Permissions());

    // Turning on twice rewrites the same entry, and turning off twice is no failure either.
    EXPECT_TRUE(item.setEnabled(true).ok);
    for (int i = 0; i < 2; ++i) {
        const Outcome off = item.setEnabled(false);
        EXPECT_TRUE(off.ok) << off.message.toStdString();
        EXPECT_FALSE(QFileInfo::exists(userEntry()));
        EXPECT_FALSE(item.enabled());
    }
}

TEST_F(XdgAutostartTest, EnabledFollowsTheEntryTheDesktopWouldUse)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> user;
        std::optional<QByteArray> system1;
        std::optional<QByteArray> system2;
        bool expected;
    };
    const QByteArray hidden = kEntry + "Hidden=true\n";
    const QByteArray gnomeOff = kEntry + "X-GNOME-Autostart-enabled=false\n";
    const Case cases[] = {
        {"no entry anywhere", {}, {}, {}, false},
        {"user entry", kEntry, {}, {}, true},
        {"first system entry alone", {}, kEntry, {}, true},
        {"second system entry alone", {}, {}, kEntry, true},
        {"hidden user entry masks a system entry", hidden, kEntry, {}, false},
        {"user entry wins over a hidden system entry", kEntry, hidden, {}, true},
        {"first system entry wins over the second", {}, hidden, kEntry, false},
        {"GNOME switch off", gnomeOff, {}, {}, false},
        {"GNOME switch off masks a system entry", gnomeOff, kEntry, {}, false},
        {"GNOME switch on", kEntry + "X-GNOME-Autostart-enabled=true\n", {}, {}, true},
        {"spaces around the equals sign and CRLF", kEntry + "Hidden = true\r\n", {}, {}, false},
        {"later key overrides the earlier", kEntry + "Hidden=true\nHidden=false\n", {}, {}, true},
        {"Hidden in another group counts for nothing",
         kEntry + "[Desktop Action quit]\nHidden=true\n", {}, {}, true},
        {"Hidden before any group counts for nothing", "Hidden=true\n" + kEntry, {}, {}, true},
        {"Hidden=false", kEntry + "Hidden=false\n", {}, {}, true},
        {"not a boolean is the default", kEntry + "Hidden=yes\nX-GNOME-Autostart-enabled=no\n", {}, {}, true},
        {"junk around the keys",
         "\x01\xff garbage\n#Hidden=true\n[Desktop Entry\n" + kEntry + "no equals sign\n=true\n[Desktop Entry]\nHidden=1\n",
         {}, {}, false},
        {"an empty user entry is the one that counts", "", hidden, {}, true},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        m_dir.swap(dir);
        m_configHome = path(u"config"_s);
        if (c.user)
            writeFile(userEntry(), *c.user);
        if (c.system1)
            writeFile(systemEntry(1), *c.system1);
        if (c.system2)
            writeFile(systemEntry(2), *c.system2);
        EXPECT_EQ(autostart().enabled(), c.expected) << c.name;
    }
}

TEST_F(XdgAutostartTest, TurningOffMasksASystemEntry)
{
    writeFile(systemEntry(2), kEntry);
    XdgAutostart item = autostart();
    ASSERT_TRUE(item.enabled());

    const Outcome off = item.setEnabled(false);
    EXPECT_TRUE(off.ok) << off.message.toStdString();
    EXPECT_FALSE(item.enabled());
    EXPECT_TRUE(entryLines(userEntry()).contains("Hidden=true"));
    EXPECT_EQ(validatorComplaint(userEntry()), QString()) << readAll(userEntry()).toStdString();
    EXPECT_EQ(readAll(systemEntry(2)), kEntry);

    // Turning on replaces the mask with a real entry; off again masks again rather than uncovering it.
    EXPECT_TRUE(item.setEnabled(true).ok);
    EXPECT_TRUE(item.enabled());
    EXPECT_FALSE(entryLines(userEntry()).contains("Hidden=true"));
    EXPECT_TRUE(item.setEnabled(false).ok);
    EXPECT_FALSE(item.enabled());
    EXPECT_TRUE(entryLines(userEntry()).contains("Hidden=true"));
}

TEST_F(XdgAutostartTest, TurningOffNeedsNoMaskForASystemEntryThatIsOffItself)
{
    writeFile(systemEntry(1), kEntry + "Hidden=true\n");
    XdgAutostart item = autostart();
    ASSERT_TRUE(item.setEnabled(true).ok);
    ASSERT_TRUE(item.enabled());

    EXPECT_TRUE(item.setEnabled(false).ok);
    EXPECT_FALSE(QFileInfo::exists(userEntry()));
    EXPECT_FALSE(item.enabled());
}

TEST_F(XdgAutostartTest, RefusalLeavesTheStateAsItWasAndSaysWhy)
{
    struct Case {
        const char* name;
        bool on;
        bool systemEntry;
        const char* blocker;     // a regular file placed here, relative to the temporary directory
        const char* configHome;  // relative to the temporary directory
        bool blockerIsDirectory = false;
    };
    const Case cases[] = {
        {"on, a file where the autostart folder belongs", true, false, "config/autostart", "config"},
        {"on, a file where the config folder belongs", true, false, "config", "config/sub"},
        {"on, a folder where the entry belongs", true, false, "config/autostart/io.kivo.KivoBar.desktop", "config",
         true},
        {"off with a system entry to mask, a file where the autostart folder belongs", false, true,
         "config/autostart", "config"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        m_dir.swap(dir);
        m_configHome = path(QString::fromUtf8(c.configHome));
        if (c.blockerIsDirectory)
            ASSERT_TRUE(QDir().mkpath(path(QString::fromUtf8(c.blocker))));
        else
            writeFile(path(QString::fromUtf8(c.blocker)), "not a folder");
        if (c.systemEntry)
            writeFile(systemEntry(1), kEntry);
        XdgAutostart item = autostart();
        const bool before = item.enabled();
        ASSERT_EQ(before, !c.on) << c.name;

        const Outcome outcome = item.setEnabled(c.on);
        EXPECT_FALSE(outcome.ok) << c.name;
        const QString prefix = c.on ? u"Couldn't turn on Open at login: "_s : u"Couldn't turn off Open at login: "_s;
        EXPECT_TRUE(outcome.message.startsWith(prefix)) << c.name << ": " << outcome.message.toStdString();
        EXPECT_GT(outcome.message.size(), prefix.size() + 5) << c.name << ": " << outcome.message.toStdString();
        EXPECT_FALSE(outcome.message.contains(u'\n')) << c.name;
        EXPECT_EQ(item.enabled(), before) << c.name;
    }
}

TEST_F(XdgAutostartTest, ConfigHomeMustBeAbsolute)
{
    // A relative XDG_CONFIG_HOME is ignored in favour of $HOME/.config.
    QProcessEnvironment environment = this->environment();
    environment.insert(u"XDG_CONFIG_HOME"_s, u"relative/config"_s);
    XdgAutostart relative(kAppId, kExecutable, environment);
    EXPECT_TRUE(relative.setEnabled(true).ok);
    EXPECT_TRUE(QFileInfo::exists(path(u"home/.config/autostart/io.kivo.KivoBar.desktop"_s)));
    EXPECT_FALSE(QFileInfo::exists(u"relative"_s));

    // With no usable home either there is nowhere to write, which is a refusal rather than a write
    // into the working directory; system entries still count.
    writeFile(systemEntry(1), kEntry);
    environment.insert(u"HOME"_s, u"home"_s);
    XdgAutostart homeless(kAppId, kExecutable, environment);
    EXPECT_TRUE(homeless.enabled());
    const Outcome off = homeless.setEnabled(false);
    EXPECT_FALSE(off.ok);
    EXPECT_TRUE(off.message.startsWith(u"Couldn't turn off Open at login: "_s)) << off.message.toStdString();
    EXPECT_TRUE(homeless.enabled());
    EXPECT_FALSE(homeless.setEnabled(true).ok);
    EXPECT_FALSE(QFileInfo::exists(u"home"_s));
}

TEST(AutostartProgram, NamesTheProgramAloneOnlyWhenThePathFindsThisVeryFile)
{
    QTemporaryDir dir;
    const auto at = [&dir](const QString& relative) { return dir.filePath(relative); };
    const QString running = at(u"build/kivobar"_s);
    writeFile(running, "#!/bin/sh\n", 0755);
    writeFile(at(u"other/kivobar"_s), "#!/bin/sh\n", 0755);
    writeFile(at(u"noexec/kivobar"_s), "#!/bin/sh\n", 0644);
    ASSERT_TRUE(QDir().mkpath(at(u"folder/kivobar"_s)));
    ASSERT_TRUE(QDir().mkpath(at(u"empty"_s)));
    ASSERT_TRUE(QDir().mkpath(at(u"bin"_s)));
    ASSERT_TRUE(QDir().mkpath(at(u"hard"_s)));
    ASSERT_TRUE(QFile::link(running, at(u"bin/kivobar"_s)));
    ASSERT_TRUE(QFile::link(at(u"build"_s), at(u"linked-build"_s)));
    ASSERT_EQ(::link(QFile::encodeName(running).constData(), QFile::encodeName(at(u"hard/kivobar"_s)).constData()), 0);

    struct Case {
        const char* name;
        QString executable;
        QString searchPath;  // entries relative to the temporary directory, except those starting with "!"
        bool bare;
    };
    const Case cases[] = {
        {"no PATH", running, u""_s, false},
        {"a build tree is on no PATH", running, u"empty"_s, false},
        {"found through a link to it", running, u"bin"_s, true},
        {"found in its own folder reached through a link", running, u"linked-build"_s, true},
        {"found as a hard link", running, u"hard"_s, true},
        {"running through a linked folder", at(u"linked-build/kivobar"_s), u"build"_s, true},
        {"another kivobar comes first", running, u"other:bin"_s, false},
        {"ours comes before another", running, u"bin:other"_s, true},
        {"not executable and folders are passed over, as the shell does", running, u"noexec:folder:bin"_s, true},
        // The desktop starts the entry from another working directory, so a relative entry proves nothing.
        {"a relative entry is no finding", running, u"!.:!build:empty"_s, false},
    };
    const QString saved = QDir::currentPath();
    QDir::setCurrent(at(u"build"_s));
    for (const Case& c : cases) {
        QStringList entries;
        for (const QString& entry : c.searchPath.split(u':', Qt::SkipEmptyParts))
            entries += entry.startsWith(u'!') ? entry.mid(1) : at(entry);
        const QString expected = c.bare ? u"kivobar"_s : c.executable;
        EXPECT_EQ(autostartProgram(c.executable, entries.join(u':')), expected) << c.name;
    }
    QDir::setCurrent(saved);
}

TEST_F(XdgAutostartTest, TheEntryStartsTheProgramByNameWhenThePathFindsIt)
{
    const QString running = path(u"prefix/bin/kivobar"_s);
    writeFile(running, "#!/bin/sh\n", 0755);
    QProcessEnvironment environment = this->environment();
    environment.insert(u"PATH"_s, path(u"nowhere"_s) + u':' + path(u"prefix/bin"_s));

    XdgAutostart installed(kAppId, running, environment);
    ASSERT_TRUE(installed.setEnabled(true).ok);
    EXPECT_TRUE(entryLines(userEntry()).contains("Exec=kivobar")) << readAll(userEntry()).toStdString();
    EXPECT_EQ(validatorComplaint(userEntry()), QString()) << readAll(userEntry()).toStdString();

    // Turning off over a system entry writes the mask with the same Exec; without the program on PATH,
    // the entry keeps its path.
    writeFile(systemEntry(1), kEntry);
    ASSERT_TRUE(installed.setEnabled(false).ok);
    EXPECT_TRUE(entryLines(userEntry()).contains("Exec=kivobar")) << readAll(userEntry()).toStdString();
    environment.insert(u"PATH"_s, path(u"nowhere"_s));
    ASSERT_TRUE(XdgAutostart(kAppId, running, environment).setEnabled(true).ok);
    EXPECT_TRUE(entryLines(userEntry()).contains("Exec=" + QFile::encodeName(running)))
        << readAll(userEntry()).toStdString();
}

TEST(DesktopExecValue, QuotesAndEscapesAsDesktopEntriesRequire)
{
    struct Case { QString program; QString expected; };
    const Case cases[] = {
        {u"/usr/bin/kivobar"_s, u"/usr/bin/kivobar"_s},
        {u"/opt/Kivo Bar/kivobar"_s, uR"("/opt/Kivo Bar/kivobar")"_s},
        {u"/opt/it's/kivobar"_s, uR"("/opt/it's/kivobar")"_s},
        {u"/opt/a&b(c)/kivobar"_s, uR"("/opt/a&b(c)/kivobar")"_s},
        // Inside quotes ", `, $ and \ take a backslash, and each backslash is then doubled by the string escape.
        {uR"(/opt/a"b`c$d\e/kivobar)"_s, uR"("/opt/a\\"b\\`c\\$d\\\\e/kivobar")"_s},
        {u"/opt/100%/kivobar"_s, u"/opt/100%%/kivobar"_s},
        {u"/opt/a %u/kivobar"_s, uR"("/opt/a %%u/kivobar")"_s},
        {u"/opt/line\nbreak/kivobar"_s, uR"("/opt/line\nbreak/kivobar")"_s},
        {u"/opt/ünïcode/kivobar"_s, u"/opt/ünïcode/kivobar"_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(desktopExecValue({c.program}), c.expected) << c.program.toStdString();
    EXPECT_EQ(desktopExecValue({u"env"_s, u"KIVO_HOME=/home/me/My Agent"_s, u"kivobar"_s}),
              uR"(env "KIVO_HOME=/home/me/My Agent" kivobar)"_s);
    EXPECT_EQ(desktopExecValue({u"env"_s, u"A="_s, u""_s}), uR"(env A= "")"_s) << "an empty argument stays one";
}

TEST_F(XdgAutostartTest, EachSetOfVariablesHasAnEntryOfItsOwn)
{
    const QString other = u"/srv/agents/%1 of\nyours"_s;  // a "%1" and a line break of its own
    const auto withHome = [&](const QString& home) {
        return XdgAutostart(kAppId, kExecutable, environment(), {{u"KIVO_HOME"_s, home}});
    };
    // An entry written before homes had entries of their own starts the plain program: it still counts
    // for the default home.
    writeFile(userEntry(), kEntry);
    XdgAutostart plain = autostart();
    XdgAutostart work = withHome(u"/srv/agents/work"_s);
    XdgAutostart odd = withHome(other);
    EXPECT_TRUE(plain.enabled());
    EXPECT_FALSE(work.enabled()) << "another home's entry is not this one's";

    ASSERT_TRUE(work.setEnabled(true).ok);
    ASSERT_TRUE(odd.setEnabled(true).ok);
    const QStringList entries = QDir(m_configHome + u"/autostart"_s).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(entries.size(), 3) << entries.join(u' ').toStdString();
    QString workEntry;
    for (const QString& name : entries) {
        const QString entry = m_configHome + u"/autostart/"_s + name;
        EXPECT_TRUE(name.startsWith(kAppId) && name.endsWith(u".desktop"_s)) << name.toStdString();
        EXPECT_EQ(validatorComplaint(entry), QString()) << readAll(entry).toStdString();
        if (entryLines(entry).contains("Exec=env KIVO_HOME=/srv/agents/work /opt/kivo/kivobar"))
            workEntry = entry;
    }
    ASSERT_FALSE(workEntry.isEmpty());
    EXPECT_TRUE(entryLines(workEntry).contains("Name=Kivo Bar (/srv/agents/work)"));
    EXPECT_EQ(withHome(u"/srv/agents/work"_s).enabled(), true) << "found again by the same home";

    // Off for one home leaves the others' entries alone.
    ASSERT_TRUE(work.setEnabled(false).ok);
    EXPECT_FALSE(QFileInfo::exists(workEntry));
    EXPECT_TRUE(plain.enabled());
    EXPECT_TRUE(odd.enabled());
    EXPECT_EQ(readAll(userEntry()), kEntry);
}

TEST_F(XdgAutostartTest, TheDesktopRunsTheGivenExecutable)
{
    // GLib's launcher reads the entry as a desktop would, so it checks the quoting against another reader.
    // (It cannot take "%" in the path: it looks for the program before collapsing "%%".)
    const QString gio = QStandardPaths::findExecutable(u"gio"_s);
    if (gio.isEmpty())
        GTEST_SKIP() << "gio is not installed";
    const QString marker = path(u"ran"_s);
    const QString program = path(uR"(it's a "dir" $x & (y) \z/kivobar)"_s);
    writeFile(program, "#!/bin/sh\nprintf '%s|%s' \"$0\" \"$KIVO_HOME\" > '" + QFile::encodeName(marker) + "'\n", 0755);

    struct Case { const char* name; LoginVariables startWith; QString home; };
    const QString home = uR"(/home/me/it's "my" $agent & \ co)"_s;
    const Case cases[] = {{"plain", {}, u""_s}, {"with a home", {{u"KIVO_HOME"_s, home}}, home}};
    for (const Case& c : cases) {
        QFile::remove(marker);
        XdgAutostart item(kAppId, program, environment(), c.startWith);
        ASSERT_TRUE(item.setEnabled(true).ok) << c.name;
        const QStringList entries = QDir(m_configHome + u"/autostart"_s).entryList({u"*.desktop"_s}, QDir::Files, QDir::Time);
        ASSERT_FALSE(entries.isEmpty());
        const QString entry = m_configHome + u"/autostart/"_s + entries.first();
        EXPECT_EQ(validatorComplaint(entry), QString()) << readAll(entry).toStdString();

        QProcess launch;
        launch.setProcessChannelMode(QProcess::MergedChannels);
        launch.start(gio, {u"launch"_s, entry});
        ASSERT_TRUE(launch.waitForFinished(30000)) << c.name;
        ASSERT_EQ(launch.exitCode(), 0) << launch.readAll().toStdString() << readAll(entry).toStdString();
        ASSERT_TRUE(waitUntil([&] { return QFileInfo(marker).size() > 0; })) << c.name;
        EXPECT_EQ(QString::fromUtf8(readAll(marker)), program + u'|' + c.home) << c.name;
        ASSERT_TRUE(item.setEnabled(false).ok);
    }
}

} // namespace
