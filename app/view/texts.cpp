#include "view/texts.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace texts {

namespace {

constexpr qsizetype kDetailCharacters = 60;

}  // namespace

QString headline(const Reach& state)
{
    // As the agent's state gives it: not translated.
    switch (state.kind()) {
    case Reach::Kind::NotSetUp: return u"Kivo isn't set up on this computer"_s;
    case Reach::Kind::Stopped: return u"Kivo is paused: this computer is unreachable"_s;
    case Reach::Kind::Connecting: return u"Kivo is connecting\u2026"_s;
    case Reach::Kind::Online: return u"Reachable from your devices \u00b7 via "_s + state.relays().join(u", "_s);
    }
    return {};
}

std::optional<QString> devicesLine(const Reach& state, const std::optional<QString>& agentVersion)
{
    if (!agentVersion || !state.is(Reach::Kind::Online))
        return std::nullopt;
    if (state.clients() == 1)
        return QCoreApplication::translate("Texts", "1 device connected · Kivo %1").arg(*agentVersion);
    return QCoreApplication::translate("Texts", "%1 devices connected · Kivo %2").arg(QString::number(state.clients()), *agentVersion);
}

QString sessionTitle(const NeedsYou& entry)
{
    return QCoreApplication::translate("Texts", "%1 · %2").arg(entry.agent, entry.where);
}

QString sessionLabel(const NeedsYou& entry)
{
    if (!entry.detail)
        return sessionTitle(entry);
    const std::optional<qsizetype> cut = cutPosition(*entry.detail, kDetailCharacters);
    return QCoreApplication::translate("Texts", "%1 · %2 — %3").arg(entry.agent, entry.where, cut ? entry.detail->left(*cut) : *entry.detail);
}

QString waitingCount(size_t count)
{
    return count == 1 ? QCoreApplication::translate("Texts", "1 session needs you") : QCoreApplication::translate("Texts", "%1 sessions need you").arg(count);
}

QString failureSummary(const Step& step)
{
    // Named by what the user asked for, not by the step's progress text, which reads as still going.
    const QStringList& arguments = step.arguments;
    if (arguments == pauseStep().arguments)
        return QCoreApplication::translate("Texts", "Kivo could not be paused");
    if (arguments == resumeStep().arguments)
        return QCoreApplication::translate("Texts", "Kivo could not be started");
    if (arguments == updateStep().arguments)
        return QCoreApplication::translate("Texts", "Kivo could not be updated");
    if (!arguments.isEmpty() && arguments.front() == setUpSteps().front().arguments.front())
        return QCoreApplication::translate("Texts", "This computer could not be set up");
    return QCoreApplication::translate("Texts", "A Kivo action failed");
}

std::optional<qsizetype> cutPosition(const QString& text, qsizetype count)
{
    // A cut never splits a combined or multi-unit character.
    if (text.size() <= count)
        return std::nullopt;
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype seen = 0; seen < count; ++seen) {
        if (boundaries.toNextBoundary() < 0)
            return std::nullopt;
    }
    return boundaries.position() < text.size() ? std::optional(boundaries.position()) : std::nullopt;
}

QString shortened(const QString& text, qsizetype count)
{
    const std::optional<qsizetype> cut = cutPosition(text, count);
    return cut ? text.left(*cut) + u'\u2026' : text;
}

}  // namespace texts
