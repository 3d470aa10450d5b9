// kivobar-act [--notify] ACTION [PLACE|ID]: carries out one action that `kivobar ACTION` was given. With the tray of
// the agent home running it hands the action over on the session bus and reports how the tray says it ended, so that
// progress and failure show in the tray's menu and notifications as well; with none, or one that does not answer,
// it runs the action through a gate and a model of its own. Exit status: 0 done, 1 failed, 2 wrong usage, 3 the
// action does not apply now. Standard error carries kivobar's own lines only, each starting with "kivobar: ".

#include "act/local_action.h"
#include "control/remote_tray.h"
#include "fetch/process_http_client.h"
#include "platform/notifier.h"
#include "platform/platform.h"
#include "service/agent_home.h"
#include "state/user_folder.h"
#include "view/app_identity.h"
#include "view/texts.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "kivobar: %s\n", qPrintable(texts::fromOutside(line)));
}

// How the tray answered, as an outcome; empty when this process is to act alone instead. Once the tray has been
// handed the action, this process never acts on its own: the tray may be carrying it out.
std::optional<ActionOutcome> handOver(const RemoteTray& tray, const ActionRequest& request)
{
    using Kind = RemoteTray::Answer::Kind;
    const RemoteTray::Answer checked = tray.check(request);
    switch (checked.kind) {
    case Kind::Done:
        break;
    case Kind::NotApplicable:
        return ActionOutcome{ActionOutcome::Kind::NotApplicable, checked.text};
    case Kind::NoAnswer:
        say(u"the tray running for this agent home did not answer within %1 seconds; acting alone."_s.arg(
            RemoteTray::kAnswerTime.count() / 1000));
        return std::nullopt;
    case Kind::Gone:
    case Kind::Lost:
        return std::nullopt;
    case Kind::Failed:
    case Kind::Refused:
        return ActionOutcome{ActionOutcome::Kind::Failed, u"the running tray refused it: "_s + checked.text};
    }

    const RemoteTray::Answer answer = tray.perform(request);
    switch (answer.kind) {
    case Kind::Done:
        return ActionOutcome{};
    case Kind::Failed:
        return ActionOutcome{ActionOutcome::Kind::Failed, answer.text};
    case Kind::NotApplicable:
        return ActionOutcome{ActionOutcome::Kind::NotApplicable, answer.text};
    case Kind::Refused:
        return ActionOutcome{ActionOutcome::Kind::Failed, u"the running tray refused it: "_s + answer.text};
    case Kind::Gone:
        // The tray went away between the two calls; the second reached nobody, so nothing was done.
        return std::nullopt;
    case Kind::NoAnswer:
    case Kind::Lost:
        return ActionOutcome{ActionOutcome::Kind::Failed, u"the tray went away before it ended; whether it succeeded is unknown"_s};
    }
    return std::nullopt;
}

ActionOutcome carryOut(const ActionRequest& request)
{
    const QString home = QDir(agentHomeFromEnvironment()).absolutePath();
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const RemoteTray tray(bus, home, userFolder(false));
        const RemoteTray::Standing standing = tray.standing();
        if (standing.owner && !standing.trusted) {
            say(u"process %1 holds the tray's name on the session bus but is not the tray of this agent home; "
                "acting alone."_s.arg(*standing.owner));
        } else if (standing.owner) {
            if (std::optional<ActionOutcome> answered = handOver(tray, request))
                return *answered;
        }
    }
    const std::unique_ptr<Desktop> desktop = makeDesktop();
    ProcessHttpClient http(QCoreApplication::applicationDirPath() + u"/kivobar-fetch"_s);
    const bool checksReleases = request.action == ActionRequest::Action::Update;
    return actAlone(request, ServiceSetup{.home = home,
                                          .desktop = desktop.get(),
                                          .http = checksReleases ? &http : nullptr,
                                          .releaseBase = QUrl(QStringLiteral(KIVOBAR_DOWNLOAD_BASE)),
                                          .appVersion = QStringLiteral(KIVOBAR_VERSION)});
}

// Says it where a launcher's user looks: its menu shows no standard error. Waits, at most a few seconds, until the
// notification has reached the desktop.
void notify(const QString& summary, const QString& body)
{
    const std::unique_ptr<Notifier> notifier = makeNotifier(kAppId, kAppName);
    notifier->notify({.summary = summary, .body = texts::fromOutside(body, texts::kLineCharacters)}, {});
    const QDeadlineTimer deadline(5'000);
    while (!notifier->settled() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
}

int report(const ActionRequest& request, const ActionOutcome& outcome, bool notifying)
{
    const QString what = requestWords(request);
    switch (outcome.kind) {
    case ActionOutcome::Kind::Done:
        return action_exit::kDone;
    case ActionOutcome::Kind::Failed:
        // The tool's own last line, quoted: it is the agent's, not ours.
        say(u"%1 failed: \"%2\""_s.arg(what, outcome.line));
        if (notifying)
            notify(u"Kivo Bar: %1 failed"_s.arg(what), outcome.line);
        return action_exit::kFailed;
    case ActionOutcome::Kind::NotApplicable:
        say(outcome.line);
        if (notifying)
            notify(u"Kivo Bar: %1 does not apply now"_s.arg(what), outcome.line);
        return action_exit::kNotApplicable;
    }
    return action_exit::kFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that goes away must not kill us before the tray's answer or the action's end.
    std::signal(SIGPIPE, SIG_IGN);
    // Standard error carries our own lines only: scripts read it. QtDBus's thread may still speak as the process
    // ends, about messages nobody waits for any more.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(u"KivoBar"_s);

    QStringList words = QCoreApplication::arguments().mid(1);
    const bool notifying = !words.isEmpty() && words.front() == u"--notify";
    if (notifying)
        words.removeFirst();
    const std::variant<ActionRequest, ActionWordsProblem> parsed = parseAction(words);
    const ActionRequest* request = std::get_if<ActionRequest>(&parsed);
    if (!request || request->action == ActionRequest::Action::Status) {
        say(u"kivobar-act takes an action as kivobar passes it on, such as \"pause\" or \"open-session 2\"."_s);
        return action_exit::kWrongUsage;
    }
    return report(*request, carryOut(*request), notifying);
}
