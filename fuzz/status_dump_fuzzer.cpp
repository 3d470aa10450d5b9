// The --status printer on whatever the status file holds: the decoded record, printed as the dump
// prints it, must never carry a character that acts on a terminal (C0 and C1 controls, DEL, the marks
// that turn the direction of text); a line feed only ends a line.

#include "cli/status_dump.h"
#include "service/reach.h"
#include "service/status.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<Status> status = decodeStatus(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!status)
        return 0;
    const QByteArray printed = statusDumpText(Reach::online(status->relays.value_or(QStringList()), status->clients), status);
    const QString text = QString::fromUtf8(printed);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool lineEnd = c == u'\n' && (i + 1 == text.size() || text[i + 1] != u'\n');
        const bool actsOnTerminal = c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x061c || c == 0x200e
            || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
        if (actsOnTerminal && !lineEnd)
            std::abort();
    }
    if (!printed.endsWith('\n'))
        std::abort();
    return 0;
}
