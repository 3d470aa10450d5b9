#include "cli/status_watch.h"

#include "cli/standard_output.h"
#include "cli/status_bars.h"
#include "cli/status_dump.h"
#include "cli/status_json.h"
#include "service/agent_home.h"
#include "service/service.h"
#include "state/instance_lock.h"
#include "state/read_tray_state.h"
#include "state/tray_activity.h"
#include "state/user_folder.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The watch has nothing to save or tidy: ending at once is ending cleanly, wherever the process stands, even in a
// write that a stalled reader keeps from returning.
extern "C" void endWatching(int)
{
    ::_exit(0);
}

// Standard output is a pipe: its reading end can close while we have nothing to write.
bool outputIsPipe()
{
    struct stat info {};
    return ::fstat(STDOUT_FILENO, &info) == 0 && S_ISFIFO(info.st_mode);
}

// The state as the tray would show it: what the agent home tells, and what the tray running for it publishes.
TrayState trayState(const Service& service, const ActivityFile& activity)
{
    return withActivity(readTrayState(service, {}), activity.read().value_or(TrayActivity()));
}

// What scripts read of the home and its tray besides what the tray shows; the record's time only for `moment`.
StatusFacts statusFacts(const Service& service, const std::optional<ScriptDirectory>& folder, bool moment)
{
    const std::optional<Status>& record = service.status();
    return {.reason = service.reason(),
            .updatedAt = record && moment ? std::optional(record->updatedAt) : std::nullopt,
            .lastError = record ? record->lastError : std::nullopt,
            .trayRunning = folder && InstanceLock::holder(*folder, service.home()).has_value(),
            .version = QStringLiteral(KIVOBAR_VERSION)};
}

QByteArray rendering(const Service& service, const ActivityFile& activity, const std::optional<ScriptDirectory>& folder,
                     StatusFormat format, bool moment)
{
    switch (format) {
    case StatusFormat::Text: return statusDumpText(service);
    case StatusFormat::Json: return statusJson(trayState(service, activity), statusFacts(service, folder, moment));
    case StatusFormat::Waybar: return waybarJson(trayState(service, activity));
    case StatusFormat::I3blocks: return i3blocksJson(trayState(service, activity));
    case StatusFormat::Polybar: return polybarLine(trayState(service, activity));
    }
    return {};
}

}  // namespace

void StatusWatch::takeOverSignals()
{
    struct sigaction action {};
    action.sa_handler = endWatching;
    sigemptyset(&action.sa_mask);
    for (const int ending : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(ending, &action, nullptr);
}

StatusWatch::StatusWatch(Render render) : m_render(std::move(render))
{
    // The writing end of a pipe polls as an error once nobody reads: a reader that goes away is noticed then,
    // not only at the next change, which may never come. Only for a pipe: a terminal polls readable on input.
    if (outputIsPipe()) {
        m_readerNotifier = new QSocketNotifier(STDOUT_FILENO, QSocketNotifier::Read);
        QObject::connect(m_readerNotifier, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    }
    // From the event loop, which only then can be told to end.
    changed();
}

StatusWatch::~StatusWatch()
{
    delete m_readerNotifier;
}

void StatusWatch::changed()
{
    // One refresh assigns the record and then the state: one rendering after both.
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [this] {
        m_pending = false;
        print();
    }, Qt::QueuedConnection);
}

void StatusWatch::print()
{
    QByteArray seen = m_render(false);
    if (seen == m_seen)
        return;
    m_seen = std::move(seen);
    if (!writeToStandardOutput(m_render(true)))
        QCoreApplication::exit(0);
}

int runStatusOutput(int argc, char** argv, const StatusOptions& options)
{
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (options.watch)
        StatusWatch::takeOverSignals();
    QCoreApplication application(argc, argv);
    // No desktop and no network: the model only reads the agent home. A folder for the tray's files that is
    // missing is not made: then no tray has published anything.
    const QString home = agentHomeFromEnvironment();
    Service service(ServiceSetup{.home = home});
    const bool text = options.format == StatusFormat::Text;
    const ActivityFile activity(text ? std::nullopt : userFolder(false), home);
    const std::optional<ScriptDirectory> lockFolder = text ? std::nullopt : userFolder(false);
    if (!options.watch) {
        writeToStandardOutput(rendering(service, activity, lockFolder, options.format, true));
        return 0;
    }
    StatusWatch watch([&service, &activity, &lockFolder, format = options.format](bool moment) {
        return rendering(service, activity, lockFolder, format, moment);
    });
    QObject::connect(&service, &Service::changed, &service, [&watch] { watch.changed(); });
    return QCoreApplication::exec();
}
