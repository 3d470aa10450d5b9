// The release manifest reader on an arbitrary body: whatever the endpoint or something in its way sends.
// A version it takes is one a menu row can show.

#include "service/release_manifest.h"

#include <QChar>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> version = readReleaseManifest(body);
    if (!version)
        return 0;
    const QList<uint> characters = version->toUcs4();
    if (characters.size() > 64)
        std::abort();
    for (const uint c : characters) {
        if (QChar::category(char32_t(c)) == QChar::Other_Control)
            std::abort();
    }
    return 0;
}
