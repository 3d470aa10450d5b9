#include "xembed/bundled_icon.h"

#include <QDir>
#include <QIcon>
#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <map>

using namespace Qt::StringLiterals;

namespace {

// Our own images, drawn at build time at a few sizes (":/icons/<name>-<size>.png"). Its name, when
// the icon theme has it, goes to the tray; its pixels are ours, so that the app never loads QtSvg
// to draw the theme's SVG.
class BundledIconEngine : public QIconEngine {
public:
    BundledIconEngine(QString name, QString themeName) : m_name(std::move(name)), m_themeName(std::move(themeName))
    {
        // Matched by hand: a name filter would load the regular expression library for good.
        const QString prefix = m_name + u'-';
        for (const QString& file : QDir(u":/icons"_s).entryList(QDir::Files)) {
            if (!file.startsWith(prefix) || !file.endsWith(u".png"_s))
                continue;
            bool isNumber = false;
            const int size = QStringView(file).sliced(prefix.size()).chopped(4).toInt(&isNumber);
            if (isNumber && size > 0)
                m_files.emplace(size, u":/icons/"_s + file);
        }
    }

    QIconEngine* clone() const override { return new BundledIconEngine(*this); }
    QString key() const override { return u"KivoBarBundledIcon"_s; }
    QString iconName() override { return m_themeName; }
    bool isNull() override { return m_files.empty(); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const auto& [size, file] : m_files)
            sizes.append(QSize(size, size));
        return sizes;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        if (side <= 0 || m_files.empty())
            return {};
        // The drawn size itself, else the next larger one scaled down (sharper than scaling up).
        auto file = m_files.lower_bound(side);
        if (file == m_files.end())
            file = std::prev(file);
        // Named as PNG: left to guess, the reader would first load every image format plugin,
        // QtSvg among them, to ask each whether it knows these bytes.
        QImageReader reader(file->second, "png");
        reader.setAutoDetectImageFormat(false);
        QImage image = reader.read();
        if (image.width() != side)
            image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return QPixmap::fromImage(std::move(image));
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }

private:
    QString m_name;
    QString m_themeName;
    std::map<int, QString> m_files;  // by size in pixels
};

}  // namespace

QIcon trayIcon(const QString& name)
{
    // Our pixels read on light and dark trays alike; the name lets a tray that knows the theme draw the
    // icon at its own size and in its own colours.
    return QIcon(new BundledIconEngine(name, QIcon::hasThemeIcon(name) ? name : QString()));
}
