// The menu's rows on whatever the status file holds: no row built from the record is longer than the
// longest the menu shows, and none holds a control character or a mark that turns the direction of text.

#include "service/reach.h"
#include "service/status.h"
#include "view/menu_content.h"
#include "view/texts.h"

#include <QTextBoundaryFinder>

#include <cstdint>
#include <cstdlib>

namespace {

qsizetype characters(const QString& text)
{
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (boundaries.toNextBoundary() >= 0)
        ++count;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<Status> status = decodeStatus(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!status)
        return 0;
    TrayState tray{.state = Reach::online(status->relays.value_or(QStringList()), status->clients), .hasRecord = true,
                   .agentVersion = status->version, .needsYou = status->needsYou.value_or(std::vector<NeedsYou>()),
                   .message = status->lastError, .updateAvailable = status->name};
    for (const MenuRow& row : MenuContent::rows(tray)) {
        // A session's row is its agent, its place and its detail with our separators between them.
        const qsizetype cap = texts::kAgentCharacters + texts::kPlaceCharacters + 60 + 8;
        if (characters(row.label) > std::max(cap, texts::kLineCharacters + 1))
            std::abort();
        for (const QChar c : row.label) {
            const char16_t u = c.unicode();
            if (u < 0x20 || (u >= 0x7f && u < 0xa0) || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
                std::abort();
        }
    }
    return 0;
}
