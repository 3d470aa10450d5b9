#include "platform/platform_texts.h"

using namespace Qt::StringLiterals;

QString approveInBrowserTitle()
{
    return u"Approve this Mac in your browser\u2026"_s;
}
