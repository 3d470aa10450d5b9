#pragma once

#include "platform/login_item.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

/// The login item as an XDG Autostart entry named after the app id: the user's entry, which also
/// masks a system entry of the same name, is what this class writes and removes.
class XdgAutostart : public LoginItem {
public:
    /// `executable` is the absolute path of the program the entry starts; HOME, XDG_CONFIG_HOME,
    /// XDG_CONFIG_DIRS and PATH come from `environment` and are read once, here.
    XdgAutostart(const QString& appId, const QString& executable, const QProcessEnvironment& environment);

    bool enabled() const override;
    [[nodiscard]] Outcome setEnabled(bool on) override;

private:
    [[nodiscard]] bool systemEntryStarts() const;
    [[nodiscard]] Outcome writeUserEntry(bool on);

    QString m_appId;
    QString m_executable;
    QString m_searchPath;
    std::optional<QString> m_userEntry;
    QStringList m_systemEntries;
};

/// The Exec value of a desktop entry that runs `program` with no arguments, quoted and escaped so that
/// any path survives the desktop's unescaping, unquoting and field-code expansion.
QString desktopExecValue(const QString& program);

/// What the entry's Exec names to start `executable` (an absolute path): its file name alone when the first
/// executable of that name in the absolute directories of `searchPath` (a PATH value) is the same file,
/// else the absolute path. Looks at the file system only.
QString autostartProgram(const QString& executable, const QString& searchPath);
