#pragma once

#include "platform/login_item.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

/// The login item as an XDG Autostart entry named after the app id: the user's entry, which also
/// masks a system entry of the same name, is what this class writes and removes. An item that starts the
/// program with variables of its own has an entry of its own, named after the app id and those values, so
/// that each such item is turned on and off apart from the others and from the plain one.
class XdgAutostart : public LoginItem {
public:
    /// `executable` is the absolute path of the program the entry starts, with the variables `startWith`
    /// set; HOME, XDG_CONFIG_HOME, XDG_CONFIG_DIRS and PATH come from `environment` and are read once, here.
    XdgAutostart(const QString& appId, const QString& executable, const QProcessEnvironment& environment,
                 const LoginVariables& startWith = {});

    bool enabled() const override;
    [[nodiscard]] Outcome setEnabled(bool on) override;

private:
    [[nodiscard]] bool systemEntryStarts() const;
    [[nodiscard]] Outcome writeUserEntry(bool on);

    QString m_appId;
    QString m_executable;
    LoginVariables m_startWith;
    QString m_searchPath;
    std::optional<QString> m_userEntry;
    QStringList m_systemEntries;
};

/// The Exec value of a desktop entry that runs `arguments` (the program first), each quoted and escaped so
/// that any path survives the desktop's unescaping, unquoting and field-code expansion.
QString desktopExecValue(const QStringList& arguments);

/// What the entry's Exec names to start `executable` (an absolute path): its file name alone when the first
/// executable of that name in the absolute directories of `searchPath` (a PATH value) is the same file,
/// else the absolute path. Looks at the file system only.
QString autostartProgram(const QString& executable, const QString& searchPath);
