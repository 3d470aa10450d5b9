// kivobar-render-icons OUTDIR SIZES SVG...: draws each tray icon at each of the comma-separated pixel
// sizes, as OUTDIR/<name>-<size>.png for the widget tray and as OUTDIR/<name>-<size>.argb (ARGB32
// pixels in network byte order, as the panels' tray protocol carries them). Run at build time, so that
// neither tray loads QtSvg, or QtGui at all for the one that speaks the protocol itself.
//
// kivobar-render-icons --app OUTDIR SIZES SVG...: draws each full-colour icon as it is, as
// OUTDIR/<size>x<size>/apps/<name>.png, the layout of an icon theme.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Only panels that do not recolour symbolic icons draw these pixels, and they may be light or dark:
// the glyph reads on a light panel, where its light edge melts into the panel, and the light edge
// draws its outline on a dark one. The glyph is the lightest grey that still keeps 4.5:1 against the
// common light panels, so that on a dark one a filled shape still shows as filled, not as an outline.
constexpr QRgb kGlyph = 0xff6a6970;
constexpr QRgb kEdge = 0xfffafafa;

// The edge is grown on a finer grid, so that it is round at corners and smooth at every size.
constexpr int kFineScale = 4;

/// How far the light edge reaches beyond the glyph, in pixels: one pixel of the 16-pixel design at
/// every size, which also fills the cut-out exclamation mark, so that it shows light on any panel.
double edgeWidth(int pixels)
{
    return pixels / 16.0;
}

QImage drawn(QSvgRenderer& renderer, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image;
}

/// The coverage of everything within `width` pixels of the glyph, as an alpha mask of `pixels` square.
QImage grownCoverage(QSvgRenderer& renderer, int pixels, double width)
{
    const int fine = pixels * kFineScale;
    const QImage glyph = drawn(renderer, fine).convertToFormat(QImage::Format_Alpha8);
    const double radius = width * kFineScale;
    const int reach = int(std::floor(radius));

    // A disc's half-width on each of its rows, so that the dilation below scans spans, not pixels.
    std::vector<int> halfWidths;
    for (int dy = -reach; dy <= reach; ++dy)
        halfWidths.push_back(int(std::floor(std::sqrt(radius * radius - double(dy) * dy))));

    std::vector<int> grown(std::size_t(fine) * fine, 0);
    for (int y = 0; y < fine; ++y) {
        for (int x = 0; x < fine; ++x) {
            int strongest = 0;
            for (int dy = -reach; dy <= reach && strongest < 255; ++dy) {
                const int row = y + dy;
                if (row < 0 || row >= fine)
                    continue;
                const uchar* line = glyph.constScanLine(row);
                const int half = halfWidths[std::size_t(dy + reach)];
                for (int column = std::max(0, x - half); column <= std::min(fine - 1, x + half); ++column)
                    strongest = std::max(strongest, int(line[column]));
            }
            grown[std::size_t(y) * fine + x] = strongest;
        }
    }

    QImage coverage(pixels, pixels, QImage::Format_Alpha8);
    const int cell = kFineScale * kFineScale;
    for (int y = 0; y < pixels; ++y) {
        uchar* line = coverage.scanLine(y);
        for (int x = 0; x < pixels; ++x) {
            int sum = 0;
            for (int fy = 0; fy < kFineScale; ++fy)
                for (int fx = 0; fx < kFineScale; ++fx)
                    sum += grown[std::size_t(y * kFineScale + fy) * fine + x * kFineScale + fx];
            line[x] = uchar((sum + cell / 2) / cell);
        }
    }
    return coverage;
}

/// `shape`'s alpha filled with `colour`.
QImage filled(const QImage& shape, QRgb colour)
{
    QImage image = shape.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), QColor::fromRgba(colour));
    return image;
}

/// The tray icon: the glyph in grey over its grown shape in the light edge colour.
QImage trayIcon(QSvgRenderer& renderer, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.drawImage(0, 0, filled(grownCoverage(renderer, pixels, edgeWidth(pixels)), kEdge));
    painter.drawImage(0, 0, filled(drawn(renderer, pixels), kGlyph));
    painter.end();
    return image;
}

QByteArray networkOrderPixels(const QImage& drawnImage)
{
    const QImage image = drawnImage.convertToFormat(QImage::Format_ARGB32);
    QByteArray pixels;
    pixels.reserve(qsizetype(image.width()) * image.height() * 4);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint32 pixel = qToBigEndian(line[x]);
            pixels.append(reinterpret_cast<const char*>(&pixel), 4);
        }
    }
    return pixels;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool writeTrayIcon(QSvgRenderer& renderer, int pixels, const QString& outputDirectory, const QString& name)
{
    const QImage image = trayIcon(renderer, pixels);
    const QString stem = u"%1/%2-%3"_s.arg(outputDirectory, name).arg(pixels);
    return image.save(stem + u".png"_s) && writeFile(stem + u".argb"_s, networkOrderPixels(image));
}

bool writeAppIcon(QSvgRenderer& renderer, int pixels, const QString& outputDirectory, const QString& name)
{
    const QString folder = u"%1/%2x%2/apps"_s.arg(outputDirectory).arg(pixels);
    return QDir().mkpath(folder) && drawn(renderer, pixels).save(folder + u'/' + name + u".png"_s);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool appIcons = !arguments.isEmpty() && arguments.constFirst() == u"--app"_s;
    if (appIcons)
        arguments.removeFirst();
    if (arguments.size() < 3) {
        std::fputs("usage: kivobar-render-icons [--app] OUTDIR SIZES SVG...\n", stderr);
        return 2;
    }
    const QString outputDirectory = arguments.at(0);
    const QStringList sizes = arguments.at(1).split(u',');
    for (const QString& svg : arguments.mid(2)) {
        QSvgRenderer renderer(svg);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "kivobar-render-icons: cannot read %s\n", qPrintable(svg));
            return 1;
        }
        const QString name = QFileInfo(svg).completeBaseName();
        for (const QString& size : sizes) {
            // Bounded by the largest size icon themes hold, so that a slip in the build files cannot
            // ask for gigabytes or minutes.
            const int pixels = size.toInt();
            if (pixels <= 0 || pixels > 256) {
                std::fprintf(stderr, "kivobar-render-icons: bad size %s\n", qPrintable(size));
                return 1;
            }
            const bool written = appIcons ? writeAppIcon(renderer, pixels, outputDirectory, name)
                                          : writeTrayIcon(renderer, pixels, outputDirectory, name);
            if (!written) {
                std::fprintf(stderr, "kivobar-render-icons: cannot write %s at %d px\n", qPrintable(name), pixels);
                return 1;
            }
        }
    }
    return 0;
}
