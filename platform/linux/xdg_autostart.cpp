#include "platform/linux/xdg_autostart.h"

#include "platform/platform.h"
#include "platform/terminal_commands.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Desktop entries are a few hundred bytes; the bound keeps a stray huge file from costing memory.
constexpr qint64 kMaxEntryBytes = 1024 * 1024;

/// True when the variable names a directory we may use; the base directory rules ignore relative ones.
bool usableDirectory(const QString& path)
{
    // Not QDir::isAbsolutePath: it also accepts Qt resource paths such as ":/x".
    return path.startsWith(u'/');
}

/// The boolean a desktop entry value spells, empty when it spells none.
std::optional<bool> entryBoolean(const QByteArray& value)
{
    if (value == "true" || value == "1")
        return true;
    if (value == "false" || value == "0")
        return false;
    return std::nullopt;
}

/// Empty when no entry is at the path; else whether the desktop will start it. Only the
/// [Desktop Entry] group counts, a later key overrides an earlier one, and lines that are not
/// key=value are skipped, as the desktop's own reader does.
std::optional<bool> entryStarts(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    // An entry the desktop cannot read starts nothing, yet still hides system entries of its name.
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(kMaxEntryBytes);

    bool inMainGroup = false;
    bool hidden = false;
    bool gnomeEnabled = true;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || equals < 0)
            continue;
        const QByteArray key = line.first(equals).trimmed();
        const QByteArray value = line.sliced(equals + 1).trimmed();
        // Values that are not booleans fall back to the defaults, as GLib's reader does.
        if (key == "Hidden")
            hidden = entryBoolean(value).value_or(false);
        else if (key == "X-GNOME-Autostart-enabled")
            gnomeEnabled = entryBoolean(value).value_or(true);
    }
    return !hidden && gnomeEnabled;
}

/// Creates the directory and its missing parents with mode 0700 as the base directory rules ask;
/// empty on success, else the reason fit to show the user.
std::optional<QString> makeDirectory(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return std::nullopt;
    if (info.exists())
        return u"%1 is a file, not a folder"_s.arg(path);
    const QString parent = info.path();
    if (parent != path) {
        if (std::optional<QString> failure = makeDirectory(parent))
            return failure;
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return u"can't create the folder %1 (%2)"_s.arg(path, qt_error_string(errno));
    // EEXIST is fine only when someone else made the directory in the meantime.
    if (!QFileInfo(path).isDir())
        return u"can't create the folder %1"_s.arg(path);
    return std::nullopt;
}

/// True when both paths name one file, whatever links or hard links lead to it.
bool sameFile(const QString& a, const QString& b)
{
    struct stat first = {};
    struct stat second = {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

/// The entry's file name without ".desktop": the app id, followed for variables of its own by a digest of
/// them, so that each set of values has its entry and the same values always find theirs.
QString entryName(const QString& appId, const LoginVariables& startWith)
{
    if (startWith.isEmpty())
        return appId;
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const auto& [name, value] : startWith) {
        digest.addData(name.toUtf8());
        digest.addData(QByteArrayView("=", 2));
        digest.addData(value.toUtf8());
        digest.addData(QByteArrayView("\0", 1));
    }
    return appId + u'-' + QString::fromLatin1(digest.result().toHex().left(16));
}

/// `text` as a desktop entry's string value: backslashes and line breaks escaped, so it stays on its line.
QString entryString(const QString& text)
{
    QString value;
    for (const QChar c : text) {
        if (c == u'\\')
            value += u"\\\\"_s;
        else if (c == u'\n')
            value += u"\\n"_s;
        else if (c == u'\t')
            value += u"\\t"_s;
        else if (c == u'\r')
            value += u"\\r"_s;
        else
            value += c;
    }
    return value;
}

/// The values after the name in the desktop's list of login items, so that entries of one app tell apart.
QString shownVariables(const LoginVariables& startWith)
{
    QStringList values;
    for (const auto& [name, value] : startWith)
        values += value;
    return values.isEmpty() ? QString() : u" ("_s + values.join(u", "_s) + u')';
}

Outcome refusal(bool on, const QString& reason)
{
    return Outcome{false, (on ? u"Couldn't turn on Open at login: "_s : u"Couldn't turn off Open at login: "_s) + reason};
}

} // namespace

QString desktopExecValue(const QStringList& arguments)
{
    // The characters that oblige an argument to be quoted; inside quotes four of them need a backslash.
    static const QString kReserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    static const QString kEscapedInQuotes = u"\"`$\\"_s;

    QStringList quotedArguments;
    for (const QString& raw : arguments) {
        QString argument;
        const bool quoted = raw.isEmpty()
            || std::any_of(raw.cbegin(), raw.cend(), [](QChar c) { return kReserved.contains(c); });
        if (quoted) {
            argument += u'"';
            for (const QChar c : raw) {
                if (kEscapedInQuotes.contains(c))
                    argument += u'\\';
                argument += c;
            }
            argument += u'"';
        } else {
            argument = raw;
        }
        quotedArguments += argument.replace(u"%"_s, u"%%"_s);
    }
    // The desktop unescapes the value as a string before it applies the quoting rules, so every
    // backslash written above is doubled once more, and line breaks become escapes.
    return entryString(quotedArguments.join(u' '));
}

QString autostartProgram(const QString& executable, const QString& searchPath)
{
    if (!executable.startsWith(u'/'))
        return executable;
    // The bare name keeps the entry working when the program moves to another folder on the PATH (say
    // from /usr/local/bin to /usr/bin); a build tree is on no PATH, so its entry keeps the path. Identity
    // rather than equal paths: /bin/kivobar and /usr/bin/kivobar are one file on a merged-/usr system.
    const QString name = QFileInfo(executable).fileName();
    const std::optional<QString> found = findOnPath(name, searchPath);
    return found && sameFile(*found, executable) ? name : executable;
}

XdgAutostart::XdgAutostart(const QString& appId, const QString& executable,
                           const QProcessEnvironment& environment, const LoginVariables& startWith)
    : m_appId(appId)
    , m_executable(executable)
    , m_startWith(startWith)
    , m_searchPath(environment.value(u"PATH"_s))
{
    const QString fileName = u"/autostart/"_s + entryName(appId, startWith) + u".desktop"_s;

    QString configHome = environment.value(u"XDG_CONFIG_HOME"_s);
    if (!usableDirectory(configHome)) {
        const QString home = environment.value(u"HOME"_s);
        // Without a home we have no place of the user's to write to, and the working directory is no substitute.
        configHome = usableDirectory(home) ? home + u"/.config"_s : QString();
    }
    if (!configHome.isEmpty())
        m_userEntry = configHome + fileName;

    QString configDirs = environment.value(u"XDG_CONFIG_DIRS"_s);
    if (configDirs.isEmpty())
        configDirs = u"/etc/xdg"_s;
    for (const QString& dir : configDirs.split(u':', Qt::SkipEmptyParts)) {
        if (usableDirectory(dir))
            m_systemEntries.append(dir + fileName);
    }
}

bool XdgAutostart::enabled() const
{
    if (m_userEntry) {
        if (const std::optional<bool> starts = entryStarts(*m_userEntry))
            return *starts;
    }
    return systemEntryStarts();
}

bool XdgAutostart::systemEntryStarts() const
{
    for (const QString& path : m_systemEntries) {
        if (const std::optional<bool> starts = entryStarts(path))
            return *starts;
    }
    return false;
}

Outcome XdgAutostart::setEnabled(bool on)
{
    // A system entry of the same name would start the app anyway, so turning off masks it instead.
    if (on || systemEntryStarts())
        return writeUserEntry(on);

    if (!m_userEntry)
        return {};
    const QFileInfo info(*m_userEntry);
    // A directory of that name is no entry and starts nothing; only files and links are ours to remove.
    if (!info.isFile() && !info.isSymLink())
        return {};
    QFile file(*m_userEntry);
    if (!file.remove())
        return refusal(on, u"can't remove %1 (%2)"_s.arg(*m_userEntry, file.errorString()));
    return {};
}

Outcome XdgAutostart::writeUserEntry(bool on)
{
    if (!m_userEntry)
        return refusal(on, u"the home folder is not known (HOME is not set)"_s);
    if (std::optional<QString> failure = makeDirectory(QFileInfo(*m_userEntry).path()))
        return refusal(on, *failure);

    // Started through env, which every desktop finds, so that the variables need no shell.
    QStringList arguments;
    if (!m_startWith.isEmpty()) {
        arguments += u"env"_s;
        for (const auto& [name, value] : m_startWith)
            arguments += name + u'=' + value;
    }
    arguments += autostartProgram(m_executable, m_searchPath);
    const QString exec = desktopExecValue(arguments);
    // Pieces put together, not filled in with arg(): a folder named "%1" stays what it is.
    QString text = u"[Desktop Entry]\n"
                   u"Type=Application\n"
                   u"Name="_s + entryString(u"Kivo Bar"_s + shownVariables(m_startWith)) + u"\n"_s
                   u"Comment=Shows whether this computer is reachable from your devices\n"
                   u"Exec="_s + exec + u"\n"_s
                   u"Icon="_s + m_appId + u"\n"_s
                   u"Terminal=false\n"
                   u"X-GNOME-Autostart-enabled="_s + (on ? u"true"_s : u"false"_s) + u"\n"_s;
    if (!on)
        text += u"Hidden=true\n"_s;

    // Written whole or not at all: a half-written entry could start nothing, or hide nothing.
    QSaveFile file(*m_userEntry);
    if (!file.open(QIODevice::WriteOnly))
        return refusal(on, u"can't write %1 (%2)"_s.arg(*m_userEntry, file.errorString()));
    file.write(text.toUtf8());
    if (!file.commit())
        return refusal(on, u"can't write %1 (%2)"_s.arg(*m_userEntry, file.errorString()));
    return {};
}

std::unique_ptr<LoginItem> makeLoginItem(const QString& appId, const QString& executable,
                                         const LoginVariables& startWith)
{
    return std::make_unique<XdgAutostart>(appId, executable, QProcessEnvironment::systemEnvironment(), startWith);
}
