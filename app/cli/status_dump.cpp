#include "cli/status_dump.h"

#include "cli/standard_output.h"
#include "service/agent_home.h"
#include "service/service.h"

#include <QCoreApplication>

#include <algorithm>

#include <csignal>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

// Characters that would act on a terminal instead of showing: C0 and C1 controls, DEL, and the marks
// that turn the direction of what follows (so a line cannot be made to read as another).
bool actsOnTerminal(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x061c || c == 0x200e || c == 0x200f
        || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// `c` as the dump writes a character that acts on a terminal.
QString escapedCharacter(char16_t c)
{
    switch (c) {
    case u'\n': return uR"(\n)"_s;
    case u'\r': return uR"(\r)"_s;
    case u'\t': return uR"(\t)"_s;
    case u'\0': return uR"(\0)"_s;
    default: return u"\\u{"_s + QString::number(c, 16).toUpper() + u'}';
    }
}

// A text from the status file as it may reach a terminal: what would act on it is written out as an
// escape, and everything else is left exactly as it is.
QString printable(const QString& text)
{
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return actsOnTerminal(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text)
        out += actsOnTerminal(c.unicode()) ? escapedCharacter(c.unicode()) : QString(c);
    return out;
}

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
        default: out += actsOnTerminal(c.unicode()) ? escapedCharacter(c.unicode()) : QString(c);
        }
    }
    out += u'"';
    return out;
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
    return statusDumpText(service.state(), service.status());
}

QByteArray statusDumpText(const Reach& state, const std::optional<Status>& status)
{
    QString out = u"state: "_s + describe(state) + u'\n';
    if (status) {
        out += u"version: "_s + printable(status->version) + u", clients: "_s + QString::number(status->clients)
            + u", relays: "_s + listForm(status->relays.value_or(QStringList())) + u'\n';
        for (const NeedsYou& entry : status->needsYou.value_or(std::vector<NeedsYou>())) {
            out += u"needs you: "_s + printable(entry.agent) + u" \u00b7 "_s + printable(entry.where) + u' '
                + printable(entry.detail.value_or(QString())) + u'\n';
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
    // A closed or broken standard output is not our failure: the dump still ends with status 0.
    writeToStandardOutput(statusDumpText(service));
    return 0;
}
