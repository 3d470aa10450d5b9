#include "state/user_folder.h"

#include <QDir>
#include <QFile>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr mode_t kOwnerOnly = 0700;

}  // namespace

std::optional<ScriptDirectory> userFolder(uint uid, const QString& userHome, const QString& runtimeRoot, bool make)
{
    if (std::optional<ScriptDirectory> runtime = ScriptDirectory::open(runtimeRoot + u'/' + QString::number(uid), true))
        return runtime;
    if (!QDir::isAbsolutePath(userHome))
        return std::nullopt;
    const QString cache = userHome + u"/.cache"_s;
    const QString own = cache + u"/kivobar"_s;
    if (!make)
        return ScriptDirectory::open(own, true);
    ::mkdir(QFile::encodeName(cache).constData(), kOwnerOnly);
    if (::mkdir(QFile::encodeName(own).constData(), kOwnerOnly) == 0)
        ::chmod(QFile::encodeName(own).constData(), kOwnerOnly);  // the umask may have taken bits we need
    return ScriptDirectory::open(own, true);
}

std::optional<ScriptDirectory> userFolder(bool make)
{
    const uid_t uid = ::geteuid();
    const QString runtimeRoot = u"/run/user"_s;
    // Where the runtime folder is there, the password database is not read: that look costs a quick
    // `kivobar --status --json` a good part of its time.
    if (std::optional<ScriptDirectory> runtime = ScriptDirectory::open(runtimeRoot + u'/' + QString::number(uid), true))
        return runtime;
    const passwd* entry = ::getpwuid(uid);
    return userFolder(uint(uid), entry && entry->pw_dir ? QFile::decodeName(entry->pw_dir) : QString(), runtimeRoot,
                      make);
}
