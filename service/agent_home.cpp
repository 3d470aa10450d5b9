#include "agent_home.h"

#include <QDir>
#include <QtGlobal>

using namespace Qt::StringLiterals;

QString agentHome(const std::optional<QString>& kivoHomeVariable, const QString& userHome)
{
    // Taken exactly as given: no tilde expansion, and a relative path stays relative to the working directory.
    if (kivoHomeVariable && !kivoHomeVariable->isEmpty())
        return *kivoHomeVariable;
    return userHome + u"/.kivo"_s;
}

QString agentHomeFromEnvironment()
{
    std::optional<QString> variable;
    if (qEnvironmentVariableIsSet("KIVO_HOME"))
        variable = qEnvironmentVariable("KIVO_HOME");
    return agentHome(variable, QDir::homePath());
}
