#include "store/QVRLocalizedString.h"

#include <QCoreApplication>

QString QVRLocalizedString(const QString& key)
{
    if (key.isEmpty())
        return key;
    // QCoreApplication::translate gives back the source text when no installed
    // translator has an entry, which is exactly the fallback we want.
    const QByteArray utf8 = key.toUtf8();
    return QCoreApplication::translate("Localizable", utf8.constData());
}
