// kivobar-render-icons OUTDIR SIZES SVG...: draws each SVG at each of the comma-separated pixel sizes,
// as OUTDIR/<name>-<size>.png for the widget tray and as OUTDIR/<name>-<size>.argb (ARGB32 pixels in
// network byte order, as the panels' tray protocol carries them). Run at build time, so that neither
// tray loads QtSvg, or QtGui at all for the one that speaks the protocol itself.

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QByteArray networkOrderPixels(const QImage& drawn)
{
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
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

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: kivobar-render-icons OUTDIR SIZES SVG...\n", stderr);
        return 2;
    }
    const QString outputDirectory = arguments.at(1);
    const QStringList sizes = arguments.at(2).split(u',');
    for (const QString& svg : arguments.mid(3)) {
        QSvgRenderer renderer(svg);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "kivobar-render-icons: cannot read %s\n", qPrintable(svg));
            return 1;
        }
        for (const QString& size : sizes) {
            const int pixels = size.toInt();
            if (pixels <= 0) {
                std::fprintf(stderr, "kivobar-render-icons: bad size %s\n", qPrintable(size));
                return 1;
            }
            QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            renderer.render(&painter);
            painter.end();
            const QString stem = outputDirectory + u'/' + QFileInfo(svg).completeBaseName() + u'-' + size;
            if (!image.save(stem + u".png"_s) || !writeFile(stem + u".argb"_s, networkOrderPixels(image))) {
                std::fprintf(stderr, "kivobar-render-icons: cannot write %s\n", qPrintable(stem));
                return 1;
            }
        }
    }
    return 0;
}
