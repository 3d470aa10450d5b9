#include "cli/command_line.h"

#include "view/action_request.h"

#include <QCommandLineParser>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

std::optional<StatusFormat> formatNamed(QStringView name)
{
    if (name == u"text")
        return StatusFormat::Text;
    if (name == u"json")
        return StatusFormat::Json;
    if (name == u"waybar")
        return StatusFormat::Waybar;
    if (name == u"i3blocks")
        return StatusFormat::I3blocks;
    if (name == u"polybar")
        return StatusFormat::Polybar;
    return std::nullopt;
}

const QString kNoFormat = u"--format takes text, json, waybar, i3blocks or polybar"_s;

command::Wrong wrong(QString problem)
{
    return {std::move(problem)};
}

}  // namespace

Command parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption status(u"status"_s);
    // Known, so that using them out of place is explained rather than called unknown.
    const QCommandLineOption json(u"json"_s);
    const QCommandLineOption watch(u"watch"_s);
    const QCommandLineOption format(u"format"_s, QString(), u"format"_s);
    const QCommandLineOption timeout(u"timeout"_s, QString(), u"seconds"_s);
    const QCommandLineOption notify(u"notify"_s);
    parser.addOptions({help, version, status, json, watch, format, timeout, notify});
    if (!parser.parse(QStringList{u"kivobar"_s} + arguments))
        return wrong(parser.errorText());
    if (parser.isSet(help))
        return command::Help{};
    if (parser.isSet(version))
        return command::Version{};

    const QStringList words = parser.positionalArguments();
    const QString verb = words.value(0);
    if (verb == u"status") {
        if (words.size() > 1)
            return wrong(u"unexpected argument '%1'"_s.arg(quotedWord(words[1])));
        std::variant<StatusOptions, QString> options = statusOptions(arguments);
        if (const QString* problem = std::get_if<QString>(&options))
            return wrong(*problem);
        return command::Status{std::get<StatusOptions>(options)};
    }
    for (const QCommandLineOption& option : {json, watch, format}) {
        if (parser.isSet(option))
            return wrong(u"--%1 goes with --status or status"_s.arg(option.names().constFirst()));
    }
    if (verb == u"wait-online") {
        if (words.size() > 1)
            return wrong(u"unexpected argument '%1'"_s.arg(quotedWord(words[1])));
        if (parser.isSet(notify))
            return wrong(u"--notify goes with an action"_s);
        if (!parser.isSet(timeout))
            return command::WaitOnline{};
        bool isNumber = false;
        const double seconds = parser.value(timeout).toDouble(&isNumber);
        // A day is more than any script waits for a network; a larger number is a mistake.
        if (!isNumber || !(seconds >= 0) || seconds > 86'400)
            return wrong(u"--timeout takes a number of seconds from 0 to 86400"_s);
        return command::WaitOnline{std::chrono::milliseconds(qint64(seconds * 1000))};
    }
    if (parser.isSet(timeout))
        return wrong(u"--timeout goes with wait-online"_s);
    if (verb == u"help")
        return words.size() == 1 ? Command(command::Help{}) : Command(wrong(u"unexpected argument '%1'"_s.arg(quotedWord(words[1]))));
    if (words.isEmpty())
        return parser.isSet(notify) ? Command(wrong(u"--notify goes with an action"_s)) : Command(command::Tray{});
    const std::variant<ActionRequest, ActionWordsProblem> parsed = parseAction(words);
    if (const auto* problem = std::get_if<ActionWordsProblem>(&parsed))
        return wrong(problem->text);
    return command::Act{.words = words, .notify = parser.isSet(notify)};
}

std::variant<StatusOptions, QString> statusOptions(const QStringList& arguments)
{
    StatusOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"--json") {
            options.format = StatusFormat::Json;
        } else if (argument == u"--watch") {
            options.watch = true;
        } else if (argument == u"--format" || argument.startsWith(u"--format="_s)) {
            const bool joined = argument != u"--format";
            if (!joined && i + 1 == arguments.size())
                return kNoFormat;
            const std::optional<StatusFormat> format = formatNamed(joined ? QStringView(argument).mid(9)
                                                                           : QStringView(arguments[++i]));
            if (!format)
                return kNoFormat;
            options.format = *format;
        }
    }
    return options;
}
