// kivobar-act ACTION [PLACE]: carries out one action that `kivobar ACTION` was given. With a tray running for
// the agent home it hands the action over on the session bus and reports how the tray says it ended, so that
// progress and failure show in the tray's menu and notifications as well; with none, or one that does not
// answer, it runs the action with a model of its own. Exit status: 0 done, 1 failed, 2 wrong usage, 3 the
// action does not apply now. `kivobar` parses the command line; this program only checks what it is given.

#include "act/local_action.h"
#include "fetch/process_http_client.h"
#include "platform/platform.h"
#include "service/agent_home.h"
#include "tray/remote_tray.h"
#include "view/action_request.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "kivobar: %s\n", qPrintable(line));
}

// The request in the arguments after the program's name, exactly as `kivobar` passes it on.
std::optional<ActionRequest> requestIn(const QStringList& words)
{
    const std::optional<ActionRequest::Action> action = words.isEmpty() ? std::nullopt : actionNamed(words.front());
    if (!action || *action == ActionRequest::Action::Status)
        return std::nullopt;
    if (*action != ActionRequest::Action::OpenSession)
        return words.size() == 1 ? std::optional(ActionRequest{.action = *action}) : std::nullopt;
    const std::optional<qint64> place = words.size() == 2 ? sessionPlace(words[1]) : std::nullopt;
    return place ? std::optional(ActionRequest{.action = *action, .session = *place}) : std::nullopt;
}

// The exit status once the running tray has answered; empty when this process is to act alone instead.
std::optional<int> handOver(const RemoteTray& tray, const ActionRequest& request)
{
    using Kind = RemoteTray::Answer::Kind;
    RemoteTray::Answer answer = tray.check(request);
    if (answer.kind == Kind::Done)
        answer = tray.perform(request);
    switch (answer.kind) {
    case Kind::Done:
        return action_exit::kDone;
    case Kind::Failed:
        printToolLine(answer.text);
        return action_exit::kFailed;
    case Kind::NotApplicable:
        say(answer.text);
        return action_exit::kNotApplicable;
    case Kind::Refused:
        say(u"the running tray refused the action: %1"_s.arg(answer.text));
        return action_exit::kFailed;
    case Kind::NoAnswer:
        say(u"the tray running for this agent home did not answer within %1 seconds; acting alone."_s.arg(
            RemoteTray::kAnswerTime.count() / 1000));
        return std::nullopt;
    case Kind::Gone:
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that goes away must not kill us before the tray's answer or the action's end.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(u"KivoBar"_s);

    const std::optional<ActionRequest> request = requestIn(QCoreApplication::arguments().mid(1));
    if (!request) {
        say(u"kivobar-act takes an action as kivobar passes it on, such as \"pause\" or \"open-session 2\"."_s);
        return action_exit::kWrongUsage;
    }
    const QString home = QDir(agentHomeFromEnvironment()).absolutePath();
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const RemoteTray tray(bus, home);
        if (tray.running()) {
            if (const std::optional<int> status = handOver(tray, *request))
                return *status;
        }
    }

    const std::unique_ptr<Desktop> desktop = makeDesktop();
    ProcessHttpClient http(QCoreApplication::applicationDirPath() + u"/kivobar-fetch"_s);
    const bool checksReleases = request->action == ActionRequest::Action::Update;
    return actAlone(*request, ServiceSetup{.home = home,
                                           .desktop = desktop.get(),
                                           .http = checksReleases ? &http : nullptr,
                                           .releaseBase = QUrl(QStringLiteral(KIVOBAR_DOWNLOAD_BASE)),
                                           .appVersion = QStringLiteral(KIVOBAR_VERSION)});
}
