#include "status_records.h"

#include "test_files.h"

#include <QCoreApplication>

#include <chrono>

using namespace std::chrono;

QByteArray isoText(Timestamp t)
{
    const auto day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss time{t - day};
    return QString::asprintf("%04d-%02u-%02uT%02d:%02d:%02lld.%06lldZ", int(date.year()), unsigned(date.month()),
                             unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                             (long long)time.seconds().count(), (long long)time.subseconds().count())
        .toUtf8();
}

Timestamp timestampNow()
{
    return time_point_cast<microseconds>(system_clock::now());
}

QByteArray StatusRecord::json() const
{
    const qint64 process = pid.value_or(QCoreApplication::applicationPid());
    QByteArray text = "{\"pid\": " + QByteArray::number(process) + ", \"name\": \"studio\", \"version\": \"" + version
        + "\", \"updated_at\": \"" + isoText(updatedAt) + "\", \"clients\": " + QByteArray::number(clients);
    if (relays)
        text += ", \"relays\": " + *relays;
    if (needsYou)
        text += ", \"needs_you\": " + *needsYou;
    return text + "}";
}

void writeStatusFile(const QString& home, const QByteArray& bytes)
{
    writeFile(home + QStringLiteral("/run/status.json"), bytes);
}
