// The timestamp rule on arbitrary text. The rule runs on UTF-16 text here and on the UTF-8 bytes of
// `updated_at` inside the status decoder; both must come to the same point in time, or to none.

#include "service/status.h"

#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // Decoded as it stands: QString::fromUtf8 would drop a byte order mark at the start, which the
    // decoder, working on the bytes, sees as a character like any other.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    const std::optional<Timestamp> parsed = parseInternetDateTime(text);

    // Only text that can stand in a JSON string as it is: UTF-8 without quotes, backslashes or controls.
    if (!bytes.isValidUtf8())
        return 0;
    for (const char c : bytes) {
        if (c == '"' || c == '\\' || uchar(c) < 0x20)
            return 0;
    }
    const QByteArray record = R"({"pid": 1, "name": "", "version": "", "clients": 0, "updated_at": ")"
        + bytes.toByteArray() + "\"}";
    const std::optional<Status> status = decodeStatus(record);
    if (!status || status->updatedAt != parsed.value_or(kDistantPast))
        std::abort();
    return 0;
}
