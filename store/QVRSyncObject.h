#pragma once

#include "platform/data/ManagedObject.h"
#include "store/QVRNoteAttributes.h"

#include <QString>
#include <QVariant>

// A record that is synced: identified by uuid, with a deletion flag and the
// time of its last change.
class QVRSyncObject : public platform::ManagedObject
{
public:
    QString uuid() const { return value(QStringLiteral("uuid")).toString(); }
    void setUuid(const QString& uuid) { setValue(QStringLiteral("uuid"), uuid); }
    QVariant archived() const { return value(QStringLiteral("archived")); }
    void setArchived(const QVariant& archived) { setValue(QStringLiteral("archived"), archived); }
    QVariant modified() const { return value(QStringLiteral("modified")); }
    void setModified(const QVariant& modified) { setValue(QStringLiteral("modified"), modified); }

    // "uuid", "archived" and "modified", each only when present.
    virtual QVRNoteAttributes attributes() const;
    // "&uuid=<uuid>" for a form body.
    virtual QString queryString() const;

protected:
    QVRSyncObject() = default;
};
