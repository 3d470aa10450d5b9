#include "cli/status_json.h"

#include "view/session_id.h"

using namespace Qt::StringLiterals;

namespace {

QString hex4(char16_t c)
{
    return u"\\u"_s + QString::number(c, 16).rightJustified(4, u'0');
}

// A JSON object written key by key in the order the schema lists them.
class JsonObject {
public:
    JsonObject& raw(QStringView key, const QString& json)
    {
        m_text += (m_text.isEmpty() ? u"{"_s : u","_s) + jsonString(key) + u':' + json;
        return *this;
    }
    JsonObject& text(QStringView key, QStringView value) { return raw(key, jsonString(value)); }
    JsonObject& optionalText(QStringView key, const std::optional<QString>& value)
    {
        return value ? text(key, *value) : *this;
    }
    QString close() const { return m_text.isEmpty() ? u"{}"_s : m_text + u'}'; }

private:
    QString m_text;
};

QString jsonArray(const QStringList& items)
{
    return u'[' + items.join(u',') + u']';
}

QString jsonStrings(const QStringList& texts)
{
    QStringList items;
    for (const QString& text : texts)
        items += jsonString(text);
    return jsonArray(items);
}

QString sessionJson(const NeedsYou& entry, const QString& id, size_t place)
{
    return JsonObject()
        .text(u"id", id)
        .raw(u"place", QString::number(place))
        .text(u"agent", entry.agent)
        .text(u"where", entry.where)
        .optionalText(u"detail", entry.detail)
        .optionalText(u"session", entry.session)
        .optionalText(u"window", entry.window)
        .optionalText(u"run", entry.run)
        .close();
}

}  // namespace

QString jsonString(QStringView text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        switch (c) {
        case u'"': out += uR"(\")"_s; continue;
        case u'\\': out += uR"(\\)"_s; continue;
        case u'\n': out += uR"(\n)"_s; continue;
        case u'\r': out += uR"(\r)"_s; continue;
        case u'\t': out += uR"(\t)"_s; continue;
        default: break;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += text[i];
            out += text[++i];
        } else if (QChar::isSurrogate(c)) {
            // Half a pair has no UTF-8 form.
            out += QChar(QChar::ReplacementCharacter);
        } else if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0) || c == 0x2028 || c == 0x2029) {
            // Controls would reach a terminal as commands; the separators end lines in JavaScript.
            out += hex4(c);
        } else {
            out += text[i];
        }
    }
    out += u'"';
    return out;
}

QString stateName(const Reach& state)
{
    switch (state.kind()) {
    case Reach::Kind::NotSetUp: return u"notSetUp"_s;
    case Reach::Kind::Stopped: return u"stopped"_s;
    case Reach::Kind::Connecting: return u"connecting"_s;
    case Reach::Kind::Online: return u"online"_s;
    }
    return {};
}

QString reasonName(ReachReason reason)
{
    switch (reason) {
    case ReachReason::None: return {};
    case ReachReason::NoTool: return u"no-tool"_s;
    case ReachReason::NotSetUp: return u"not-set-up"_s;
    case ReachReason::NoRecord: return u"no-record"_s;
    case ReachReason::NotRunning: return u"not-running"_s;
    case ReachReason::Stale: return u"stale"_s;
    case ReachReason::NoRelay: return u"no-relay"_s;
    }
    return {};
}

QString internetDateTime(Timestamp time)
{
    const auto days = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date(days);
    const std::chrono::hh_mm_ss<std::chrono::microseconds> clock(time - days);
    const auto two = [](auto n) { return QString::number(n).rightJustified(2, u'0'); };
    return u"%1-%2-%3T%4:%5:%6.%7Z"_s.arg(QString::number(int(date.year())).rightJustified(4, u'0'),
                                           two(unsigned(date.month())), two(unsigned(date.day())),
                                           two(clock.hours().count()), two(clock.minutes().count()),
                                           two(clock.seconds().count()),
                                           QString::number(clock.subseconds().count()).rightJustified(6, u'0'));
}

QByteArray statusJson(const TrayState& tray, const StatusFacts& facts)
{
    JsonObject object;
    object.raw(u"schema_version", QString::number(kStatusSchemaVersion)).text(u"state", stateName(tray.state));
    if (tray.state.is(Reach::Kind::Online)) {
        object.raw(u"relays", jsonStrings(tray.state.relays()))
            .raw(u"clients", QString::number(tray.state.clients()));
    } else {
        object.text(u"reason", reasonName(facts.reason));
    }
    object.optionalText(u"agent_version", tray.agentVersion);
    if (facts.updatedAt)
        object.text(u"updated_at", internetDateTime(*facts.updatedAt));
    object.optionalText(u"last_error", facts.lastError);
    QStringList sessions;
    const std::vector<QString> ids = sessionIds(tray.needsYou);
    for (size_t i = 0; i < ids.size(); ++i)
        sessions += sessionJson(tray.needsYou[i], ids[i], i + 1);
    object.raw(u"needs_you", jsonArray(sessions))
        .optionalText(u"busy", tray.busy)
        .optionalText(u"message", tray.message)
        .optionalText(u"update", tray.updateAvailable);
    if (const std::optional<BarUpdate>& bar = tray.barUpdate) {
        object.raw(u"bar_update", JsonObject()
                                      .text(u"version", bar->version)
                                      .text(u"url", bar->url.toString(QUrl::FullyEncoded))
                                      .close());
    }
    object.raw(u"tray_running", facts.trayRunning ? u"true"_s : u"false"_s).text(u"kivobar_version", facts.version);
    return (object.close() + u'\n').toUtf8();
}
