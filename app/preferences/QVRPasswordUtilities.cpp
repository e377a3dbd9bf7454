// Finding the password manager through the desktop's URL-scheme handlers.
#include "app/preferences/QVRPasswordUtilities.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>

namespace {

QString handlerType()
{
    return QStringLiteral("x-scheme-handler/") + QVRPasswordUtilities::scheme();
}

// Whether a desktop-style file names `type` in one of `groups`: as a key
// with a value (no `key` given), or in the list under `key`.
bool listsType(const QString& path, const QStringList& groups, const QString& key, const QString& type)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = groups.contains(line.mid(1, line.size() - 2));
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString name = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key.isEmpty() ? name == type && !QString(value).remove(QLatin1Char(';')).isEmpty()
                          : name == key && value.split(QLatin1Char(';')).contains(type))
            return true;
    }
    return false;
}

} // namespace

QString QVRPasswordUtilities::scheme()
{
    return QStringLiteral("onepassword");
}

bool QVRPasswordUtilities::utilityIsInstalled()
{
    const QString type = handlerType();
    const QStringList associations{QStringLiteral("Default Applications"),
                                   QStringLiteral("Added Associations")};
    QStringList mimeapps =
        QStandardPaths::locateAll(QStandardPaths::GenericConfigLocation, QStringLiteral("mimeapps.list"));
    const QStringList applicationDirs =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& dir : applicationDirs)
        mimeapps << dir + QStringLiteral("/mimeapps.list");
    for (const QString& path : mimeapps)
        if (listsType(path, associations, QString(), type))
            return true;
    for (const QString& dir : applicationDirs) {
        QDirIterator entries(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (entries.hasNext())
            if (listsType(entries.next(), {QStringLiteral("Desktop Entry")}, QStringLiteral("MimeType"),
                          type))
                return true;
    }
    return false;
}

QUrl QVRPasswordUtilities::utilityURLForSearch(const QString& search)
{
    return QUrl(scheme() + QStringLiteral("://search/") + search);
}
