// The status decoder on arbitrary bytes: whatever the agent, a crash or a stranger leaves in the status
// file. Besides the sanitizers' findings, the end of the text is checked: whitespace after a document
// never changes what it decodes to, so a decoder that looks past its input or stops short shows here.

#include "service/status.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool same(const std::optional<Status>& a, const std::optional<Status>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    return a->pid == b->pid && a->name == b->name && a->version == b->version && a->updatedAt == b->updatedAt
        && a->relays == b->relays && a->clients == b->clients && a->lastError == b->lastError
        && a->needsYou == b->needsYou;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<Status> status = decodeStatus(bytes);
    const QByteArray padded = bytes.toByteArray() + " \t\r\n";
    if (!same(status, decodeStatus(padded)))
        std::abort();
    return 0;
}
