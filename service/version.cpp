#include "service/version.h"

#include <QList>
#include <QStringView>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <vector>

namespace {

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

struct Range {
    qsizetype begin = 0;
    qsizetype end = 0;
};

// A version text read as user-perceived characters: a separator only counts when it stands as a
// character of its own, so "." followed by a combining accent is one accented character, not a dot.
class Characters {
public:
    explicit Characters(QStringView text) : m_text(text)
    {
        // ASCII has no combining or prepended marks, and its one two-unit character, CR LF, holds
        // no separator, so the boundary finder can be skipped. Otherwise the boundaries of the whole
        // text serve every later split: pieces end at lone separators, which no cluster rule crosses.
        if (isAscii(text))
            return;
        m_boundary.assign(static_cast<size_t>(text.size()) + 1, false);
        m_boundary.front() = true;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
        for (qsizetype at = finder.toNextBoundary(); at >= 0; at = finder.toNextBoundary())
            m_boundary[static_cast<size_t>(at)] = true;
    }

    QStringView slice(Range range) const { return m_text.sliced(range.begin, range.end - range.begin); }

    bool isSeparator(qsizetype at, char16_t separator) const
    {
        if (m_text[at].unicode() != separator)
            return false;
        // A prepended mark before it or a combining mark after it makes it part of a larger character.
        return m_boundary.empty()
            || (m_boundary[static_cast<size_t>(at)] && m_boundary[static_cast<size_t>(at) + 1]);
    }

private:
    QStringView m_text;
    std::vector<bool> m_boundary;  // empty when every position is a boundary
};

// Hands each non-empty piece of `range` between separators to `onPiece`, until it returns false.
// Once `maxSplits` pieces are out, the rest after their last separator is one final piece, whatever
// separators it holds; empty pieces are dropped and do not count.
template <typename OnPiece>
void split(const Characters& text, Range range, char16_t separator, std::optional<int> maxSplits,
           OnPiece&& onPiece)
{
    qsizetype start = range.begin;
    int pieces = 0;
    for (qsizetype at = range.begin; at < range.end; ++at) {
        if (maxSplits && pieces == *maxSplits)
            break;
        if (!text.isSeparator(at, separator))
            continue;
        if (at > start) {
            ++pieces;
            if (!onPiece(Range{start, at}))
                return;
        }
        start = at + 1;
    }
    if (start < range.end)
        onPiece(Range{start, range.end});
}

// ASCII digits only: no sign, no spaces, no other scripts' digits. Too large for 64 bits is no number.
std::optional<qint64> readNumber(QStringView piece)
{
    if (piece.isEmpty())
        return std::nullopt;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (const QChar c : piece) {
        const char16_t unit = c.unicode();
        if (unit < u'0' || unit > u'9')
            return std::nullopt;
        const int digit = unit - u'0';
        if (value > (kMax - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

struct Version {
    std::array<qint64, 3> numbers{};
    QStringView suffix;  // empty for a release
};

std::optional<Version> parse(QStringView whole)
{
    const Characters text(whole);

    Range withoutBuild{0, whole.size()};
    split(text, withoutBuild, u'+', std::nullopt, [&](Range first) {
        withoutBuild = first;
        return false;
    });

    std::optional<Range> mainPart;
    Version version;
    split(text, withoutBuild, u'-', 1, [&](Range piece) {
        if (mainPart)
            version.suffix = text.slice(piece);
        else
            mainPart = piece;
        return true;
    });
    if (!mainPart)
        return std::nullopt;

    int count = 0;
    bool tooMany = false;
    split(text, *mainPart, u'.', std::nullopt, [&](Range piece) {
        const std::optional<qint64> number = readNumber(text.slice(piece));
        if (!number)
            return true;  // words between the dots are skipped, not rejected
        if (count == 3) {
            tooMany = true;
            return false;
        }
        version.numbers[static_cast<size_t>(count++)] = *number;
        return true;
    });
    if (tooMany || count != 3)
        return std::nullopt;
    return version;
}

// Strictly after, by the code points of the canonically composed forms. UTF-16 code units would put
// characters beyond the Basic Multilingual Plane before U+E000..U+FFFF.
bool sortsAfter(QStringView a, QStringView b)
{
    if (isAscii(a) && isAscii(b))
        return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end());
    const QList<uint> pointsA = a.toString().normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> pointsB = b.toString().normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(pointsB.begin(), pointsB.end(), pointsA.begin(), pointsA.end());
}

}  // namespace

bool newer(const QString& candidate, const QString& reference)
{
    const std::optional<Version> a = parse(candidate);
    if (!a)
        return false;
    const std::optional<Version> b = parse(reference);
    if (!b)
        return false;
    if (a->numbers != b->numbers)
        return a->numbers > b->numbers;
    if (a->suffix.isEmpty())
        return !b->suffix.isEmpty();
    if (b->suffix.isEmpty())
        return false;
    return sortsAfter(a->suffix, b->suffix);
}
