#include "service/agent_home.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
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

QString agentHomeIdentity(const QString& home)
{
    // The home may not exist yet (not set up), or only in part: the longest existing part is resolved
    // and what follows it is kept as written, cleaned.
    QString existing = QDir::cleanPath(QDir::current().absoluteFilePath(home));
    QString rest;
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const qsizetype slash = existing.lastIndexOf(u'/');
        if (slash <= 0)
            return QDir::cleanPath(QDir::current().absoluteFilePath(home));
        rest = existing.mid(slash) + rest;
        existing.truncate(slash);
    }
    const QString resolved = QFileInfo(existing).canonicalFilePath();
    return QDir::cleanPath((resolved.isEmpty() ? existing : resolved) + rest);
}

QString agentHomeKey(const QString& home)
{
    const QByteArray digest =
        QCryptographicHash::hash(agentHomeIdentity(home).toUtf8(), QCryptographicHash::Sha256).toHex();
    return QString::fromLatin1(digest.left(24));
}
