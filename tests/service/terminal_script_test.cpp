#include "service/terminal_script.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

TEST(FitForScripts, TakesOnlyDirectoriesNoOtherUserCanChangeEntriesIn)
{
    const uid_t me = 1000, other = 1001, root = 0;
    struct Case { uid_t owner; mode_t mode; bool privateOnly; bool fit; };
    const Case cases[] = {
        {me, 0700, false, true},
        {me, 0755, false, true},
        {me, 0711, false, true},
        {me, 0770, false, false},        // the group may replace the script
        {me, 0702, false, false},
        {me, 01777, false, true},        // sticky: others may add entries, not touch ours
        {root, 01777, false, true},      // /tmp
        {root, 0777, false, false},
        {root, 0755, false, false},      // not ours, and not shared the way /tmp is
        {other, 0700, false, false},     // its owner may always rename what is in it
        {other, 01777, false, false},
        {me, 0700, true, true},
        {me, 0750, true, false},
        {me, 0701, true, false},
        {me, 01777, true, false},
        {other, 0700, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fitForScripts(c.owner, c.mode, me, c.privateOnly), c.fit)
            << "owner " << c.owner << " mode " << std::oct << c.mode << (c.privateOnly ? " private only" : "");
    EXPECT_TRUE(fitForScripts(root, 0700, root)) << "root's own";
}

class TerminalScriptPlaces : public testing::Test {
protected:
    QString directory(const QString& name, mode_t mode)
    {
        const QString path = m_root.filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << name.toStdString();
        return path;
    }

    QString symlink(const QString& name, const QString& target)
    {
        const QString path = m_root.filePath(name);
        EXPECT_TRUE(QFile::link(target, path));
        return path;
    }

    /// The directory the script went to, or "none"; the script is removed again.
    QString placeOf(const ScriptPlaces& places)
    {
        std::optional<TerminalScript> script = TerminalScript::write(places, u"true"_s);
        if (!script)
            return u"none"_s;
        const QFileInfo info(script->path());
        EXPECT_TRUE(info.isFile()) << script->path().toStdString();
        script->remove();
        EXPECT_FALSE(QFileInfo::exists(script->path()));
        return info.absolutePath();
    }

    QTemporaryDir m_root;
};

TEST_F(TerminalScriptPlaces, TakesTheFirstPlaceFitForScripts)
{
    const QString mine = directory(u"mine"_s, 0700);
    const QString shared = directory(u"shared"_s, 0755);
    const QString sticky = directory(u"sticky"_s, 01777);
    const QString system = directory(u"system"_s, 0755);
    const QString cache = directory(u"cache"_s, 0755);
    const QString ownFolder = cache + u"/kivobar"_s;
    struct Case { const char* what; ScriptPlaces places; QString expected; };
    std::vector<Case> cases = {
        {"a private runtime directory", {mine, shared, system, cache}, mine},
        {"no runtime directory", {u""_s, shared, system, cache}, shared},
        {"runtime directory the group may enter", {directory(u"group"_s, 0750), shared, system, cache}, shared},
        {"runtime directory others may enter", {directory(u"others"_s, 0701), shared, system, cache}, shared},
        {"runtime directory missing", {m_root.filePath(u"missing"_s), shared, system, cache}, shared},
        {"runtime directory relative", {QDir::current().relativeFilePath(mine), shared, system, cache}, shared},
        {"runtime directory a symbolic link to ours", {symlink(u"runtime link"_s, mine), shared, system, cache},
         shared},
        {"temporary directory writable by others", {u""_s, directory(u"open"_s, 0777), system, cache}, system},
        {"temporary directory writable by the group", {u""_s, directory(u"group open"_s, 0770), system, cache},
         system},
        {"temporary directory a symbolic link to ours", {u""_s, symlink(u"temp link"_s, mine), system, cache},
         system},
        {"temporary directory sticky for everybody", {u""_s, sticky, system, cache}, sticky},
        {"no shared place fits", {u""_s, u""_s, directory(u"open system"_s, 0777), cache}, ownFolder},
        // The terminal opens the script by its path: a directory on the way that others may change
        // entries in could be swapped for theirs in the meantime.
        {"runtime directory under one others may write to",
         {directory(u"open parent"_s, 0777) + u"/mine"_s, shared, system, cache}, shared},
        {"temporary directory under a sticky one", {u""_s, directory(u"sticky parent/t"_s, 0700), system, cache},
         m_root.filePath(u"sticky parent/t"_s)},
        {"runtime directory reached through a symbolic link on the way",
         {symlink(u"via"_s, m_root.filePath(u"real"_s)) + u"/mine"_s, shared, system, cache},
         m_root.filePath(u"real/mine"_s)},
    };
    directory(u"open parent/mine"_s, 0700);
    directory(u"real/mine"_s, 0700);
    ASSERT_EQ(::chmod(QFile::encodeName(m_root.filePath(u"open parent"_s)).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_root.filePath(u"sticky parent"_s)).constData(), 01777), 0);
    writeFile(m_root.filePath(u"file"_s), "", 0700);
    cases.push_back({"runtime directory a file", {m_root.filePath(u"file"_s), shared, system, cache}, shared});
    if (::geteuid() == 0) {
        // Directories of another user; only root can make them.
        const QString foreign = directory(u"foreign"_s, 0700);
        const QString foreignSticky = directory(u"foreign sticky"_s, 01777);
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
        ASSERT_EQ(::chown(QFile::encodeName(foreignSticky).constData(), 65534, 65534), 0);
        cases.push_back({"runtime directory of another user", {foreign, shared, system, cache}, shared});
        cases.push_back({"temporary directory of another user, sticky", {u""_s, foreignSticky, system, cache},
                         system});
        const QString foreignParent = directory(u"foreign parent"_s, 0755);
        const QString underForeign = directory(u"foreign parent/mine"_s, 0700);
        ASSERT_EQ(::chown(QFile::encodeName(foreignParent).constData(), 65534, 65534), 0);
        cases.push_back({"runtime directory under one of another user", {underForeign, shared, system, cache},
                         shared});
    }
    for (const Case& c : cases) {
        const QString place = placeOf(c.places);
        // Scripts are placed by the directory's path without symbolic links, should the test's own have any.
        EXPECT_EQ(place, QFileInfo(c.expected).canonicalFilePath()) << c.what;
    }
}

TEST_F(TerminalScriptPlaces, MakesItsOwnFolderPrivateAndJudgesOneFoundInPlace)
{
    const QString cache = m_root.filePath(u"cache"_s);  // missing, like the folder in it
    const ScriptPlaces places{.cache = cache};
    {
        const UmaskGuard guard(0);
        EXPECT_EQ(placeOf(places), cache + u"/kivobar"_s);
    }
    EXPECT_EQ(modeOf(cache + u"/kivobar"_s), 0700u);

    ASSERT_EQ(::chmod(QFile::encodeName(cache + u"/kivobar"_s).constData(), 0777), 0);
    EXPECT_EQ(placeOf(places), u"none"_s) << "a folder others may write to";

    ASSERT_TRUE(QDir(cache + u"/kivobar"_s).removeRecursively());
    symlink(u"cache/kivobar"_s, directory(u"elsewhere"_s, 0700));
    EXPECT_EQ(placeOf(places), u"none"_s) << "a symbolic link";
}

TEST_F(TerminalScriptPlaces, WritesIntoTheDirectoryThatWasJudgedEvenIfItsPathChanges)
{
    // Once judged, the directory is reached through its descriptor: whatever then appears under its old
    // path, such as a link to a place of somebody else's choosing, gets nothing.
    const QString judged = directory(u"judged"_s, 0700);
    const QString elsewhere = directory(u"elsewhere"_s, 0700);
    std::optional<ScriptDirectory> open = ScriptDirectory::open(judged);
    ASSERT_TRUE(open);
    ASSERT_TRUE(QDir().rename(judged, m_root.filePath(u"moved"_s)));
    symlink(u"judged"_s, elsewhere);

    ASSERT_TRUE(writeTerminalScript(*open, u"kivo-script.command"_s, u"true"_s));
    EXPECT_TRUE(QFileInfo::exists(m_root.filePath(u"moved/kivo-script.command"_s)));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(TerminalScriptPlaces, NeverReplacesAFileOfTheSameName)
{
    const QString mine = directory(u"mine"_s, 0700);
    writeFile(mine + u"/kivo-taken.command"_s, "someone else's", 0600);
    const std::optional<ScriptDirectory> open = ScriptDirectory::open(mine);
    ASSERT_TRUE(open);
    EXPECT_FALSE(writeTerminalScript(*open, u"kivo-taken.command"_s, u"true"_s));
    EXPECT_EQ(readWholeFile(mine + u"/kivo-taken.command"_s), "someone else's");
    EXPECT_EQ(QDir(mine).entryList(QDir::Files | QDir::Hidden), QStringList{u"kivo-taken.command"_s});
}

}  // namespace
