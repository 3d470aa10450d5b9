// kivobar-render-icons OUTDIR SIZES SVG...: draws each SVG at each of the comma-separated pixel sizes
// into OUTDIR/<name>-<size>.png. Run at build time, so that the tray shows our images without
// loading QtSvg, which would then stay in its memory for good.

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

using namespace Qt::StringLiterals;

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
            QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            renderer.render(&painter);
            painter.end();
            const QString output = outputDirectory + u'/' + QFileInfo(svg).completeBaseName() + u'-' + size + u".png"_s;
            if (pixels <= 0 || !image.save(output)) {
                std::fprintf(stderr, "kivobar-render-icons: cannot write %s\n", qPrintable(output));
                return 1;
            }
        }
    }
    return 0;
}
