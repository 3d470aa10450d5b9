#include "status_icon.h"

#include "service.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>

using namespace Qt::StringLiterals;

namespace {

// What panels ask for: 16, 22 and 24 px, and the larger sizes for high-density screens.
constexpr int kFallbackSizes[] = {16, 22, 24, 32, 48};

}  // namespace

QString icon(const Service& service)
{
    const std::optional<Status>& status = service.status();
    if (status && status->needsYou && !status->needsYou->empty())
        return kNeedsYouSymbol.toString();
    if (service.state().is(Reach::Kind::Online))
        return kOnlineSymbol.toString();
    return kOfflineSymbol.toString();
}

QString themeIconName(const QString& symbol)
{
    if (symbol == kNeedsYouSymbol)
        return u"kivobar-needs-you-symbolic"_s;
    if (symbol == kOnlineSymbol)
        return u"kivobar-online-symbolic"_s;
    if (symbol == kOfflineSymbol)
        return u"kivobar-offline-symbolic"_s;
    return {};
}

QIcon trayIcon(const QString& symbol, const QColor& colour)
{
    const QString name = themeIconName(symbol);
    if (name.isEmpty())
        return {};
    // A themed icon keeps its name, which Qt hands to the panel: the panel then picks the size and
    // recolours the symbolic image for its own background.
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);

    // Not installed (a run from an unprepared build tree): draw the bundled image in the text colour,
    // so that the pixels the panel gets read on it. The icon engine is asked once per size here and
    // dropped, so the SVG document is not kept in memory.
    const QIcon source(u":/icons/"_s + name + u".svg"_s);
    QIcon result;
    for (const int size : kFallbackSizes) {
        QImage image = source.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
        painter.end();
        result.addPixmap(QPixmap::fromImage(std::move(image)));
    }
    return result;
}
