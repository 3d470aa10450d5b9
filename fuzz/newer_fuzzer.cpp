// The version order on arbitrary texts, given as UTF-8 lines: the first two, or three. Whatever the texts,
// `newer` must be a strict order: never both ways, never a text newer than itself, and transitive.

#include "service/version.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QString> texts;
    for (const QByteArrayView line : QByteArray::fromRawData(bytes.data(), bytes.size()).split('\n'))
        texts.append(QString::fromUtf8(line));
    if (texts.size() < 2)
        return 0;
    const QString& a = texts[0];
    const QString& b = texts[1];
    const bool aOverB = newer(a, b);
    if (newer(a, a) || (aOverB && newer(b, a)))
        std::abort();
    if (texts.size() >= 3) {
        const QString& c = texts[2];
        if (aOverB && newer(b, c) && !newer(a, c))
            std::abort();
    }
    return 0;
}
