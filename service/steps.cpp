#include "service/steps.h"

#include "platform/platform_texts.h"

using namespace Qt::StringLiterals;

std::vector<Step> setUpSteps()
{
    return {Step{approveInBrowserTitle(), {u"login"_s, u"--browser"_s}}, resumeStep()};
}

Step resumeStep()
{
    return {u"Starting\u2026"_s, {u"up"_s}};
}

Step pauseStep()
{
    return {u"Stopping\u2026"_s, {u"down"_s}};
}

Step updateStep()
{
    return {u"Updating\u2026"_s, {u"update"_s}};
}
