// Prints what the status decoder makes of each document in a file, one line per document, for the
// differential test next to it. Input: each document as its length in decimal, a line feed, then its
// bytes. Output: "-" for a document refused, else the record's fields in a fixed order, texts as the hex
// of their UTF-8, absent values as "-" and present texts marked by a leading '"'.

#include "service/status.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>

namespace {

QByteArray text(const QString& value)
{
    return '"' + value.toUtf8().toHex();
}

QByteArray optionalText(const std::optional<QString>& value)
{
    return value ? text(*value) : QByteArray("-");
}

QByteArray canonical(const std::optional<Status>& status)
{
    if (!status)
        return "-";
    QByteArray line = "pid=" + QByteArray::number(status->pid) + " name=" + text(status->name)
        + " version=" + text(status->version)
        + " updated=" + QByteArray::number(qint64(status->updatedAt.time_since_epoch().count()))
        + " relays=";
    if (status->relays) {
        QList<QByteArray> relays;
        for (const QString& relay : *status->relays)
            relays.append(text(relay));
        line += '[' + relays.join(',') + ']';
    } else {
        line += '-';
    }
    line += " clients=" + QByteArray::number(status->clients) + " last_error=" + optionalText(status->lastError)
        + " needs_you=";
    if (status->needsYou) {
        QList<QByteArray> entries;
        for (const NeedsYou& entry : *status->needsYou) {
            entries.append('(' + text(entry.agent) + ';' + text(entry.where) + ';' + optionalText(entry.detail) + ';'
                           + optionalText(entry.session) + ';' + optionalText(entry.window) + ';'
                           + optionalText(entry.run) + ')');
        }
        line += '[' + entries.join(',') + ']';
    } else {
        line += '-';
    }
    return line;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: status_differential_tool DOCUMENTS\n", stderr);
        return 2;
    }
    QFile file(QFile::decodeName(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "status_differential_tool: cannot read %s\n", argv[1]);
        return 2;
    }
    const QByteArray all = file.readAll();
    qsizetype at = 0;
    while (at < all.size()) {
        const qsizetype lineEnd = all.indexOf('\n', at);
        bool ok = false;
        const qsizetype length = lineEnd < 0 ? -1 : all.mid(at, lineEnd - at).toLongLong(&ok);
        if (!ok || length < 0 || lineEnd + 1 + length > all.size()) {
            std::fputs("status_differential_tool: malformed input\n", stderr);
            return 2;
        }
        // A copy of exactly the document's bytes, so that a read past its end is a sanitizer's finding.
        const QByteArray document = all.mid(lineEnd + 1, length);
        const QByteArray line = canonical(decodeStatus(document)) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        at = lineEnd + 1 + length;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
