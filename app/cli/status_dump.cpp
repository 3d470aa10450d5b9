#include "cli/status_dump.h"

#include "service/agent_home.h"
#include "service/service.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString quoted(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += uR"(\")"_s; break;
        case u'\'': out += uR"(\')"_s; break;
        case u'\\': out += uR"(\\)"_s; break;
        case u'\n': out += uR"(\n)"_s; break;
        case u'\r': out += uR"(\r)"_s; break;
        case u'\t': out += uR"(\t)"_s; break;
        case u'\0': out += uR"(\0)"_s; break;
        default:
            // Other control characters would reach the terminal as commands; show them as code points.
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
                out += u"\\u{"_s + QString::number(c.unicode(), 16).toUpper() + u'}';
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

void writeAll(const QByteArray& bytes)
{
    // A closed or broken standard output is not our failure: the dump still ends with status 0.
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

bool wantsStatusDump(int argc, const char* const* argv)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--status") == 0)
            return true;
    }
    return false;
}

QString listForm(const QStringList& texts)
{
    QString out = u"["_s;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            out += u", "_s;
        out += quoted(texts[i]);
    }
    return out + u']';
}

QString describe(const Reach& state)
{
    switch (state.kind()) {
    case Reach::Kind::NotSetUp: return u"notSetUp"_s;
    case Reach::Kind::Stopped: return u"stopped"_s;
    case Reach::Kind::Connecting: return u"connecting"_s;
    case Reach::Kind::Online:
        return u"online(relays: "_s + listForm(state.relays()) + u", clients: "_s
            + QString::number(state.clients()) + u')';
    }
    return {};
}

QByteArray statusDumpText(const Service& service)
{
    QString out = u"state: "_s + describe(service.state()) + u'\n';
    if (const std::optional<Status>& status = service.status()) {
        out += u"version: "_s + status->version + u", clients: "_s + QString::number(status->clients)
            + u", relays: "_s + listForm(status->relays.value_or(QStringList())) + u'\n';
        for (const NeedsYou& entry : status->needsYou.value_or(std::vector<NeedsYou>())) {
            out += u"needs you: "_s + entry.agent + u" \u00b7 "_s + entry.where + u' '
                + entry.detail.value_or(QString()) + u'\n';
        }
    }
    return out.toUtf8();
}

int runStatusDump(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler(discardMessage);
    QCoreApplication app(argc, argv);
    // No desktop and no network: the dump ends before the event loop could use either.
    const Service service(ServiceSetup{.home = agentHomeFromEnvironment()});
    writeAll(statusDumpText(service));
    return 0;
}
