#include "view/tray_look.h"

#include "view/texts.h"

using namespace Qt::StringLiterals;

namespace {

// Panels read the tooltip as markup; an unescaped "&" or "<" from the agent would make it vanish.
QString escaped(const QString& text)
{
    QString out = text;
    return out.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
}

}  // namespace

QString icon(const TrayState& tray)
{
    if (!tray.needsYou.empty())
        return kNeedsYouSymbol.toString();
    if (tray.state.is(Reach::Kind::Online))
        return kOnlineSymbol.toString();
    return kOfflineSymbol.toString();
}

QString themeIconName(QStringView symbol)
{
    if (symbol == kNeedsYouSymbol)
        return u"kivobar-needs-you-symbolic"_s;
    if (symbol == kOnlineSymbol)
        return u"kivobar-online-symbolic"_s;
    if (symbol == kOfflineSymbol)
        return u"kivobar-offline-symbolic"_s;
    return {};
}

TrayLook trayLook(const TrayState& tray)
{
    const QString headline = texts::headline(tray.state);
    QStringList lines;
    QString accessible = headline;
    if (const size_t waiting = tray.needsYou.size()) {
        lines += texts::waitingCount(waiting);
        accessible += u". "_s + texts::waitingCount(waiting);
    }
    if (tray.message)
        lines += escaped(texts::fromOutside(*tray.message, texts::kToolTipLineCharacters));
    return {.iconName = themeIconName(icon(tray)),
            .needsAttention = !tray.needsYou.empty(),
            .toolTipTitle = escaped(headline),
            .toolTipText = lines.join(u'\n'),
            .accessibleDescription = accessible};
}
