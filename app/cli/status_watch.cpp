#include "cli/status_watch.h"

#include "cli/standard_output.h"
#include "cli/status_dump.h"
#include "cli/status_json.h"
#include "service/agent_home.h"
#include "service/service.h"
#include "tray/read_tray_state.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

sigset_t endingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

// Standard output is a pipe: its reading end can close while we have nothing to write.
bool outputIsPipe()
{
    struct stat info {};
    return ::fstat(STDOUT_FILENO, &info) == 0 && S_ISFIFO(info.st_mode);
}

QByteArray rendering(const Service& service, StatusFormat format)
{
    switch (format) {
    case StatusFormat::Text: return statusDumpText(service);
    case StatusFormat::Json: return statusJson(readTrayState(service, {}));
    case StatusFormat::Waybar: return waybarJson(readTrayState(service, {}));
    }
    return {};
}

}  // namespace

void StatusWatch::takeOverSignals()
{
    const sigset_t set = endingSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StatusWatch::StatusWatch(Render render) : m_render(std::move(render))
{
    const sigset_t set = endingSignals();
    m_signals = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_signals >= 0) {
        m_signalNotifier = new QSocketNotifier(m_signals, QSocketNotifier::Read);
        QObject::connect(m_signalNotifier, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    }
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
    delete m_signalNotifier;
    if (m_signals >= 0)
        ::close(m_signals);
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
    QByteArray now = m_render();
    if (now == m_printed)
        return;
    m_printed = std::move(now);
    if (!writeToStandardOutput(m_printed))
        QCoreApplication::exit(0);
}

int runStatusOutput(int argc, char** argv, const StatusOptions& options)
{
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (options.watch)
        StatusWatch::takeOverSignals();
    QCoreApplication application(argc, argv);
    // No desktop and no network: the model only reads the agent home.
    Service service(ServiceSetup{.home = agentHomeFromEnvironment()});
    if (!options.watch) {
        writeToStandardOutput(rendering(service, options.format));
        return 0;
    }
    StatusWatch watch([&service, format = options.format] { return rendering(service, format); });
    QObject::connect(&service, &Service::changed, &service, [&watch] { watch.changed(); });
    return QCoreApplication::exec();
}
