#pragma once

#include "platform/data/ManagedObject.h"

#include <QString>
#include <QVariant>

#include <memory>

extern const QString QVRQueueEntityName;

// A change waiting to be sent to the web service.
class Queue : public platform::ManagedObject
{
public:
    static std::unique_ptr<platform::ManagedObject> create();

    QString uuid() const { return value(QStringLiteral("uuid")).toString(); }
    void setUuid(const QString& uuid) { setValue(QStringLiteral("uuid"), uuid); }
    QString cmd() const { return value(QStringLiteral("cmd")).toString(); }
    void setCmd(const QString& cmd) { setValue(QStringLiteral("cmd"), cmd); }
    QString query() const { return value(QStringLiteral("query")).toString(); }
    void setQuery(const QString& query) { setValue(QStringLiteral("query"), query); }
    QVariant date() const { return value(QStringLiteral("date")); }
    void setDate(const QVariant& date) { setValue(QStringLiteral("date"), date); }
};
