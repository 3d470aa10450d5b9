#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <variant>

/// How `kivobar --status` prints the state.
enum class StatusFormat {
    Text,      ///< the lines of the text dump
    Json,      ///< one JSON object (docs/kivobar-status.schema.json)
    Waybar,    ///< one line of waybar's custom-module JSON
    I3blocks,  ///< one line of JSON for an i3blocks block with format=json
    Polybar,   ///< one line with polybar's colour tags, for a custom/script module
};

/// What `--status` is asked for besides: the format, and whether to keep watching.
struct StatusOptions {
    StatusFormat format = StatusFormat::Text;
    bool watch = false;  ///< print again after each change, until the reader goes away

    friend bool operator==(const StatusOptions&, const StatusOptions&) = default;
};

/// What the command line asks kivobar to do, besides `--status`.
namespace command {
struct Tray { friend bool operator==(const Tray&, const Tray&) = default; };
struct Help { friend bool operator==(const Help&, const Help&) = default; };
struct Version { friend bool operator==(const Version&, const Version&) = default; };
/// An action for kivobar-act, as it takes it: the action's name, then the place or id for open-session.
struct Act {
    QStringList words;
    /// Say a refusal or failure in a desktop notification as well: the launcher's menu has no terminal.
    bool notify = false;
    friend bool operator==(const Act&, const Act&) = default;
};
/// `kivobar status`: the same as --status with the same options.
struct Status {
    StatusOptions options;
    friend bool operator==(const Status&, const Status&) = default;
};
/// `kivobar wait-online`: wait until the state is online, at most `timeout`; zero looks once.
struct WaitOnline {
    std::chrono::milliseconds timeout{30'000};
    friend bool operator==(const WaitOnline&, const WaitOnline&) = default;
};
/// A command line that asks for nothing we do: the problem in one line, without the hint.
struct Wrong {
    QString problem;
    friend bool operator==(const Wrong&, const Wrong&) = default;
};
}  // namespace command

using Command = std::variant<command::Tray, command::Help, command::Version, command::Act, command::Status,
                             command::WaitOnline, command::Wrong>;

/// What `arguments` (the program's name left out, and no `--status` among them) ask for: the tray when
/// there are none, the help (also `help`), the version, the state printed (`status`, with --status's options),
/// waiting for the state to be online (`wait-online [--timeout SECONDS]`), or one action (pause, resume, toggle,
/// set-up, update, dashboard, log, open-session PLACE|ID, quit; --notify says a refusal in a notification too).
/// Pure.
Command parseCommandLine(const QStringList& arguments);

/// The options that go with `--status` among `arguments` (the program's name left out): --json,
/// --format text|json|waybar|i3blocks|polybar (or --format=...) and --watch; the last format given counts.
/// Other arguments are ignored, as `--status` always has. The problem in one line when --format has no known
/// value. Pure.
std::variant<StatusOptions, QString> statusOptions(const QStringList& arguments);
