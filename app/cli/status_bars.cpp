#include "cli/status_bars.h"

#include "cli/status_json.h"
#include "view/texts.h"

using namespace Qt::StringLiterals;

namespace {

// How many waiting sessions the waybar tooltip lists before it only counts the rest.
constexpr size_t kTooltipSessions = 5;
// How many characters of an action's progress line a bar shows beside the state: a bar has room for a few words.
constexpr qsizetype kBarLineCharacters = 40;

// The Tango colours that the README's waybar style uses too.
const QString kGreen = u"#8ae234"_s;
const QString kYellow = u"#fce94f"_s;
const QString kGrey = u"#babdb6"_s;
const QString kOrange = u"#fcaf3e"_s;
const QString kRed = u"#ef2929"_s;

const QString kSeparator = u" \u00b7 "_s;

QString stateWords(const Reach& state)
{
    switch (state.kind()) {
    case Reach::Kind::NotSetUp: return u"Not set up"_s;
    case Reach::Kind::Stopped: return u"Paused"_s;
    case Reach::Kind::Connecting: return u"Connecting\u2026"_s;
    case Reach::Kind::Online: return u"Online"_s;
    }
    return {};
}

QString stateColor(const Reach& state)
{
    switch (state.kind()) {
    case Reach::Kind::NotSetUp:
    case Reach::Kind::Stopped: return kGrey;
    case Reach::Kind::Connecting: return kYellow;
    case Reach::Kind::Online: return kGreen;
    }
    return {};
}

// A line from outside as a bar shows it beside the state: fit to stand among ours, and short in characters and
// in size alike (i3blocks 1.4 cuts a text after 1 KiB, even inside a character).
QString barText(const QString& text)
{
    return texts::fromOutside(text, kBarLineCharacters);
}

// Waybar reads text and tooltip as Pango markup, in which an unescaped "&" or "<" makes it show nothing.
QString markup(const QString& text)
{
    return QString(text).replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
}

QStringList tooltipLines(const TrayState& tray)
{
    QStringList lines{texts::headline(tray.state)};
    if (const std::optional<QString> devices = texts::devicesLine(tray.state, tray.agentVersion))
        lines += *devices;
    if (tray.busy)
        lines += texts::fromOutside(*tray.busy, texts::kLineCharacters);
    if (tray.message)
        lines += texts::fromOutside(*tray.message, texts::kLineCharacters);
    if (!tray.needsYou.empty()) {
        lines += texts::waitingCount(tray.needsYou.size()) + u':';
        for (size_t i = 0; i < tray.needsYou.size() && i < kTooltipSessions; ++i)
            lines += u"  "_s + texts::sessionLabel(tray.needsYou[i]);
        if (tray.needsYou.size() > kTooltipSessions)
            lines += u"  and %1 more"_s.arg(tray.needsYou.size() - kTooltipSessions);
    }
    if (const std::optional<QString>& update = tray.updateAvailable)
        lines += u"Kivo %1 is available"_s.arg(texts::fromOutside(*update, texts::kVersionCharacters));
    if (const std::optional<BarUpdate>& bar = tray.barUpdate)
        lines += u"Kivo Bar %1 is available"_s.arg(texts::fromOutside(bar->version, texts::kVersionCharacters));
    return lines;
}

// i3blocks 1.4 takes the bytes between two quotes as the text, undoing no escape: a quote would end the text
// early and a backslash would show doubled. Those two become their full-width forms and the line separators a
// replacement character, and fromOutside has taken the controls, so that jsonString writes no escape at all.
QString i3blocksString(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'"')
            out += u'\uff02';
        else if (c == u'\\')
            out += u'\uff3c';
        else if (c.unicode() == 0x2028 || c.unicode() == 0x2029)
            out += QChar(QChar::ReplacementCharacter);
        else
            out += c;
    }
    return jsonString(out);
}

// Polybar reads "%{" as the start of a tag, actions that run commands included, and has no escape for it
// ("%%" shows as two and still opens the tag after it): a word joiner, which shows as nothing, follows each "%"
// (only texts from outside hold one), so that none starts a tag or touches one of ours.
QString polybarText(const QString& text)
{
    return QString(text).replace(u'%', u"%\u2060"_s);
}

}  // namespace

BarLook barLook(const TrayState& tray)
{
    const bool waiting = !tray.needsYou.empty();
    const QString words = stateWords(tray.state);
    const QString count = QString::number(tray.needsYou.size());

    QStringList parts{words};
    if (tray.busy && !tray.busy->isEmpty())
        parts += barText(*tray.busy);
    if (waiting)
        parts += texts::waitingCount(tray.needsYou.size());

    QStringList classes{stateName(tray.state)};
    if (waiting)
        classes += u"needsYou"_s;
    if (tray.busy)
        classes += u"busy"_s;
    if (tray.message)
        classes += u"failed"_s;

    return BarLook{
        .text = parts.join(kSeparator),
        .shortText = waiting ? words + kSeparator + count : words,
        .color = tray.message ? kRed : waiting ? kOrange : stateColor(tray.state),
        .classes = classes,
        .alt = waiting ? stateName(tray.state) + u"-needsYou"_s : stateName(tray.state),
        .urgent = waiting,
    };
}

QByteArray waybarJson(const TrayState& tray)
{
    const BarLook look = barLook(tray);
    QStringList classes;
    for (const QString& name : look.classes)
        classes += jsonString(name);
    const QString line = u"{\"text\":"_s + jsonString(markup(look.text))
        + u",\"tooltip\":"_s + jsonString(markup(tooltipLines(tray).join(u'\n')))
        + u",\"class\":["_s + classes.join(u',') + u"],\"alt\":"_s + jsonString(look.alt) + u"}\n"_s;
    return line.toUtf8();
}

QByteArray i3blocksJson(const TrayState& tray)
{
    const BarLook look = barLook(tray);
    const QString urgent = look.urgent ? u"true"_s : u"false"_s;
    const QString line = u"{\"full_text\":"_s + i3blocksString(look.text)
        + u",\"short_text\":"_s + i3blocksString(look.shortText) + u",\"color\":"_s + jsonString(look.color)
        + u",\"markup\":\"none\",\"urgent\":\""_s + urgent + u"\",\"urgent\":"_s + urgent + u"}\n"_s;
    return line.toUtf8();
}

QByteArray polybarLine(const TrayState& tray)
{
    const BarLook look = barLook(tray);
    return (u"%{F"_s + look.color + u'}' + polybarText(look.text) + u"%{F-}\n"_s).toUtf8();
}
