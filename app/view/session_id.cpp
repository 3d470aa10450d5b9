#include "view/session_id.h"

#include <QCryptographicHash>
#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kDigits = 12;

// The whole value, each field told apart from the next and an absent one from an empty one.
QByteArray wholeValue(const NeedsYou& entry, int occurrence)
{
    QString value = entry.agent + u'\x1f' + entry.where;
    for (const std::optional<QString>* field : {&entry.detail, &entry.session, &entry.window, &entry.run})
        value += field->has_value() ? u'\x1f' + **field : u"\x1e"_s;
    return (value + u'#' + QString::number(occurrence)).toUtf8();
}

}  // namespace

std::vector<QString> sessionIds(const std::vector<NeedsYou>& entries)
{
    std::vector<QString> ids;
    ids.reserve(entries.size());
    QHash<NeedsYou, int> occurrences;
    for (const NeedsYou& entry : entries) {
        const QByteArray digest = QCryptographicHash::hash(wholeValue(entry, occurrences[entry]++), QCryptographicHash::Sha256);
        ids.push_back(u"s-"_s + QString::fromLatin1(digest.toHex().left(kDigits)));
    }
    return ids;
}

bool looksLikeSessionId(QStringView text)
{
    return text.size() == kDigits + 2 && text.startsWith(u"s-")
        && std::all_of(text.begin() + 2, text.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}
