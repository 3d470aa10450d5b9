#include "service/shell_quote.h"

using namespace Qt::StringLiterals;

QString shellQuote(const QString& text)
{
    // Inside single quotes nothing is special but the quote itself, which has to close the quoted part,
    // appear escaped on its own, and open a new quoted part.
    QString quoted = text;
    quoted.replace(u'\'', u"'\\''"_s);
    return u'\'' + quoted + u'\'';
}
