// Reads the icons the build drew (KIVOBAR_TRAY_PIXMAPS, KIVOBAR_ICON_THEME) as a panel would show them.

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const char* const kTrayIcons[] = {"kivobar-online-symbolic", "kivobar-offline-symbolic", "kivobar-needs-you-symbolic"};
constexpr int kTraySizes[] = {16, 22, 24, 32, 48};

struct Panel {
    const char* name;
    QRgb colour;
};
// Light and dark panels of the common desktops, and the two extremes.
constexpr Panel kPanels[] = {
    {"white", 0xffffffff},        {"GNOME light", 0xfff6f5f4}, {"Breeze light", 0xffeff0f1},
    {"GNOME dark", 0xff2e3436}, {"Breeze dark", 0xff31363b},  {"black", 0xff000000},
};

QImage trayPixmap(const char* icon, int size)
{
    return QImage(QStringLiteral(KIVOBAR_TRAY_PIXMAPS "/%1-%2.png").arg(QLatin1StringView(icon)).arg(size))
        .convertToFormat(QImage::Format_ARGB32);
}

double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

/// Relative luminance as WCAG defines it.
double luminance(QRgb colour)
{
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) + 0.0722 * linear(qBlue(colour));
}

double contrast(QRgb a, QRgb b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

/// `pixel` (not premultiplied) laid over an opaque `panel`, as the panel composes it.
QRgb over(QRgb pixel, QRgb panel)
{
    const int alpha = qAlpha(pixel);
    const auto mix = [alpha](int front, int back) { return (front * alpha + back * (255 - alpha) + 127) / 255; };
    return qRgb(mix(qRed(pixel), qRed(panel)), mix(qGreen(pixel), qGreen(panel)), mix(qBlue(pixel), qBlue(panel)));
}

}  // namespace

// An icon reads on a panel when what borders the panel stands out from it by 3:1. Where the rim of the
// icon does not (a light edge on a light panel), it merges into the panel, and what borders the panel
// is the part just within, which must stand out instead. So every pixel on the rim of the icon's shape
// must lie within an edge's width of a pixel that stands out: the edge may melt, the glyph may not.
TEST(TrayPixmaps, StandOutFromLightAndDarkPanels)
{
    for (const char* icon : kTrayIcons) {
        for (const int size : kTraySizes) {
            const QImage image = trayPixmap(icon, size);
            ASSERT_EQ(image.size(), QSize(size, size)) << icon << " at " << size;
            const auto inShape = [&image, size](int x, int y) {
                return x >= 0 && y >= 0 && x < size && y < size && qAlpha(image.pixel(x, y)) >= 128;
            };
            // One pixel of the 16-pixel design, and two more for the antialiasing at sharp tips.
            const int reach = int(std::ceil(size / 16.0)) + 2;
            for (const Panel& panel : kPanels) {
                std::vector<bool> standsOut(std::size_t(size) * size);
                for (int y = 0; y < size; ++y)
                    for (int x = 0; x < size; ++x)
                        standsOut[std::size_t(y) * size + x] =
                            contrast(over(image.pixel(x, y), panel.colour), panel.colour) >= 3.0;
                int lost = 0;
                QPoint example;
                for (int y = 0; y < size; ++y) {
                    for (int x = 0; x < size; ++x) {
                        const bool onRim = inShape(x, y) && !(inShape(x - 1, y) && inShape(x + 1, y) &&
                                                              inShape(x, y - 1) && inShape(x, y + 1));
                        if (!onRim)
                            continue;
                        bool near = false;
                        for (int ny = std::max(0, y - reach); ny <= std::min(size - 1, y + reach) && !near; ++ny)
                            for (int nx = std::max(0, x - reach); nx <= std::min(size - 1, x + reach) && !near; ++nx)
                                near = standsOut[std::size_t(ny) * size + nx];
                        if (!near && lost++ == 0)
                            example = QPoint(x, y);
                    }
                }
                EXPECT_EQ(lost, 0) << icon << " at " << size << " px on " << panel.name << ": " << lost
                                   << " pixels of its outline are lost in the panel, e.g. at (" << example.x()
                                   << ", " << example.y() << ")";
            }
        }
    }
}

// The panels' tray protocol carries the same pixels as ARGB32 in network byte order; a slip in the
// byte order would show the right shape in the wrong colours.
TEST(TrayPixmaps, ProtocolPixelsAreTheImagesPixels)
{
    for (const char* icon : kTrayIcons) {
        for (const int size : kTraySizes) {
            const QImage image = trayPixmap(icon, size);
            QFile file(QStringLiteral(KIVOBAR_TRAY_PIXMAPS "/%1-%2.argb").arg(QLatin1StringView(icon)).arg(size));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(file.fileName());
            const QByteArray pixels = file.readAll();
            ASSERT_EQ(pixels.size(), qsizetype(size) * size * 4) << icon << " at " << size;
            int differing = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    differing += qFromBigEndian<quint32>(pixels.constData() + (qsizetype(y) * size + x) * 4) !=
                                 image.pixel(x, y);
            EXPECT_EQ(differing, 0) << icon << " at " << size;
        }
    }
}

// Each drawing sits in the theme folder named for its size, which is the size a desktop asks for.
TEST(AppIcon, DrawnAtTheSizeOfItsThemeFolder)
{
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral(KIVOBAR_ICON_THEME "/%1x%1/apps/io.kivo.KivoBar.png").arg(size);
        const QImage image(path);
        ASSERT_FALSE(image.isNull()) << qPrintable(path);
        EXPECT_EQ(image.size(), QSize(size, size)) << qPrintable(path);
        // Drawn, not blank: the badge fills the middle.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << qPrintable(path);
    }
}
