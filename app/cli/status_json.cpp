#include "cli/status_json.h"

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

QString sessionJson(const NeedsYou& entry)
{
    return JsonObject()
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

QByteArray statusJson(const TrayState& tray)
{
    JsonObject object;
    object.raw(u"schema_version", QString::number(kStatusSchemaVersion)).text(u"state", stateName(tray.state));
    if (tray.state.is(Reach::Kind::Online)) {
        object.raw(u"relays", jsonStrings(tray.state.relays()))
            .raw(u"clients", QString::number(tray.state.clients()));
    }
    object.optionalText(u"agent_version", tray.agentVersion);
    QStringList sessions;
    for (const NeedsYou& entry : tray.needsYou)
        sessions += sessionJson(entry);
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
    return (object.close() + u'\n').toUtf8();
}
