#include "store/QVRSyncObject.h"

#include <QUrl>

QVRNoteAttributes QVRSyncObject::attributes() const
{
    QVRNoteAttributes attributes;
    for (const QString& key :
         {QVRNoteAttributeKey::uuid, QVRNoteAttributeKey::archived, QVRNoteAttributeKey::modified}) {
        const QVariant value = this->value(key);
        if (!value.isNull())
            attributes.insert(key, value);
    }
    return attributes;
}

QString QVRSyncObject::queryString() const
{
    // The general URL escaping keeps reserved characters as they are.
    return QStringLiteral("&uuid=") +
           QString::fromLatin1(QUrl::toPercentEncoding(uuid(), "!*'();:@&=+$,/?#"));
}
