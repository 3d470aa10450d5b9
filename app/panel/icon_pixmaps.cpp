#include "panel/icon_pixmaps.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace {

// The sizes the build draws; each image is a square of ARGB32 pixels in network byte order.
constexpr int kSizes[] = {16, 22, 24, 32, 44, 48, 64};

}  // namespace

DBusImageList iconPixmaps(const QString& iconName)
{
    DBusImageList images;
    if (iconName.isEmpty())
        return images;
    for (const int size : kSizes) {
        QFile file(u":/pixmaps/%1-%2.argb"_s.arg(iconName).arg(size));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QByteArray pixels = file.readAll();
        if (pixels.size() == qsizetype(size) * size * 4)
            images.append({size, size, std::move(pixels)});
    }
    return images;
}
