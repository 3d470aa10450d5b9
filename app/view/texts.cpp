#include "view/texts.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>

#include <algorithm>

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
    case Reach::Kind::Online:
        return fromOutside(u"Reachable from your devices \u00b7 via "_s + state.relays().join(u", "_s), kLineCharacters);
    }
    return {};
}

std::optional<QString> devicesLine(const Reach& state, const std::optional<QString>& agentVersion)
{
    if (!agentVersion || !state.is(Reach::Kind::Online))
        return std::nullopt;
    const QString version = fromOutside(*agentVersion, kVersionCharacters);
    if (state.clients() == 1)
        return QCoreApplication::translate("Texts", "1 device connected · Kivo %1").arg(version);
    return QCoreApplication::translate("Texts", "%1 devices connected · Kivo %2").arg(QString::number(state.clients()), version);
}

QString sessionTitle(const NeedsYou& entry)
{
    return QCoreApplication::translate("Texts", "%1 · %2")
        .arg(fromOutside(entry.agent, kAgentCharacters), fromOutside(entry.where, kPlaceCharacters));
}

QString sessionLabel(const NeedsYou& entry)
{
    if (!entry.detail)
        return sessionTitle(entry);
    // The detail is cut after 60 characters with nothing to mark the cut, as the menu has always shown it.
    const QString detail = fromOutside(*entry.detail);
    const std::optional<qsizetype> cut = cutPosition(detail, kDetailCharacters);
    return QCoreApplication::translate("Texts", "%1 · %2 — %3")
        .arg(fromOutside(entry.agent, kAgentCharacters), fromOutside(entry.where, kPlaceCharacters),
             cut ? detail.left(*cut) : detail);
}

QString waitingCount(size_t count)
{
    return count == 1 ? QCoreApplication::translate("Texts", "1 session needs you") : QCoreApplication::translate("Texts", "%1 sessions need you").arg(count);
}

QString failureSummary(const Intent& intent)
{
    // Named by what the user asked for, not by the step that failed, nor by its progress text, which reads as
    // still going.
    if (std::holds_alternative<intent::Pause>(intent))
        return QCoreApplication::translate("Texts", "Kivo could not be paused");
    if (std::holds_alternative<intent::Resume>(intent))
        return QCoreApplication::translate("Texts", "Kivo could not be started");
    if (std::holds_alternative<intent::Update>(intent))
        return QCoreApplication::translate("Texts", "Kivo could not be updated");
    if (std::holds_alternative<intent::SetUp>(intent))
        return QCoreApplication::translate("Texts", "This computer could not be set up");
    return QCoreApplication::translate("Texts", "A Kivo action failed");
}

std::optional<qsizetype> cutPosition(const QString& text, qsizetype count)
{
    if (text.size() <= count)
        return std::nullopt;
    // A cut never splits a combined or multi-unit character, unless characters so long that `count` of them would
    // outgrow kUnitsPerCharacter units each: one character may carry any number of combining marks.
    const qsizetype units = kUnitsPerCharacter * count;
    const auto withinUnits = [&text, units]() -> std::optional<qsizetype> {
        if (text.size() <= units)
            return std::nullopt;
        return QChar::isLowSurrogate(text[units].unicode()) ? units - 1 : units;
    };
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype seen = 0; seen < count; ++seen) {
        const qsizetype next = boundaries.toNextBoundary();
        if (next < 0)
            return withinUnits();
        if (next > units)
            return withinUnits();
    }
    return boundaries.position() < text.size() ? std::optional(boundaries.position()) : withinUnits();
}

QString shortened(const QString& text, qsizetype count)
{
    const std::optional<qsizetype> cut = cutPosition(text, count);
    return cut ? text.left(*cut) + u'\u2026' : text;
}

QString fromOutside(const QString& text)
{
    const auto isControl = [](char16_t c) { return c < 0x20 || (c >= 0x7f && c < 0xa0); };
    const auto turnsDirection = [](char16_t c) {
        return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
    };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return isControl(c.unicode()) || turnsDirection(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            out += QChar(QChar::ReplacementCharacter);
        else if (!turnsDirection(c.unicode()))
            out += c;
    }
    return out;
}

QString fromOutside(const QString& text, qsizetype count)
{
    return shortened(fromOutside(text), count);
}

}  // namespace texts
