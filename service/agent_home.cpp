#include "service/agent_home.h"

#include <QDir>
#include <QtGlobal>

using namespace Qt::StringLiterals;

QString agentHome(const std::optional<QString>& kivoHomeVariable, const QString& userHome)
{
    // Taken exactly as given: no tilde expansion; a relative path is made absolute by the Service that uses it.
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
