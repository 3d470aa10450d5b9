// The menu bar manifest reader on an arbitrary body served with 200. What it takes is a version a menu row
// can show and an address the desktop may open: a web page, never a file or another application.

#include "service/release_manifest.h"

#include <QChar>

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<BarUpdate> update = readBarManifest(HttpResponse{200, body});
    if (!update)
        return 0;
    const QList<uint> characters = update->version.toUcs4();
    if (characters.size() > 64)
        std::abort();
    for (const uint c : characters) {
        if (QChar::category(char32_t(c)) == QChar::Other_Control)
            std::abort();
    }
    const QString scheme = update->url.scheme();
    if (!update->url.isValid() || (scheme != u"http"_s && scheme != u"https"_s) || update->url.host().isEmpty())
        std::abort();
    return 0;
}
