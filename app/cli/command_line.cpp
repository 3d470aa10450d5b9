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
    return std::nullopt;
}

const QString kNoFormat = u"--format takes text, json or waybar"_s;

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
    // Known, so that using them without --status is explained rather than called unknown.
    const QCommandLineOption json(u"json"_s);
    const QCommandLineOption watch(u"watch"_s);
    const QCommandLineOption format(u"format"_s, QString(), u"format"_s);
    parser.addOptions({help, version, status, json, watch, format});
    if (!parser.parse(QStringList{u"kivobar"_s} + arguments))
        return wrong(parser.errorText());
    if (parser.isSet(help))
        return command::Help{};
    if (parser.isSet(version))
        return command::Version{};
    for (const QCommandLineOption& option : {json, watch, format}) {
        if (parser.isSet(option))
            return wrong(u"--%1 goes with --status"_s.arg(option.names().constFirst()));
    }

    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return command::Tray{};
    const std::variant<ActionRequest, ActionWordsProblem> parsed = parseAction(words);
    if (const auto* problem = std::get_if<ActionWordsProblem>(&parsed))
        return wrong(problem->text);
    // Showing the state as a notification is for launchers; the command line prints it with --status.
    if (std::get<ActionRequest>(parsed).action == ActionRequest::Action::Status)
        return wrong(u"unknown action 'status'"_s);
    return command::Act{words};
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
