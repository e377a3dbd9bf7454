#include "sync/QVRSyncService.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>

namespace QVRSyncService {

namespace {
const char* const kDefaultOrigin = "https://sync.quorvane.com";
}

bool isSafeURL(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    // A literal address only: a name such as "localhost" is whatever the
    // resolver says it is.
    QHostAddress address;
    return address.setAddress(url.host()) && address.isLoopback();
}

QUrl origin()
{
    const QByteArray override = qgetenv("QUILLARY_SERVICE_URL");
    QUrl url(override.isEmpty() ? QString::fromLatin1(kDefaultOrigin) : QString::fromUtf8(override));
    if (!isSafeURL(url))
        return {};
    QUrl result;
    result.setScheme(url.scheme());
    result.setHost(url.host());
    result.setPort(url.port());
    return result;
}

QString originError()
{
    const QByteArray override = qgetenv("QUILLARY_SERVICE_URL");
    if (override.isEmpty() || isSafeURL(QUrl(QString::fromUtf8(override))))
        return QString();
    return QStringLiteral("the service address %1 is refused: it must be https, or plain http to a loopback "
                          "address such as 127.0.0.1")
        .arg(QString::fromUtf8(override).left(200));
}

QString host()
{
    return origin().host();
}

QUrl syncURL()
{
    QUrl url = origin();
    if (url.isEmpty())
        return url;
    url.setPath(QStringLiteral("/sync/quillary/xml.php"));
    return url;
}

QString systemVersion(const QString& osReleaseText)
{
    static const QRegularExpression line(QStringLiteral("^VERSION_ID=\"?([^\"\\n]*)\"?\\s*$"),
                                         QRegularExpression::MultilineOption);
    const QString value = line.match(osReleaseText).captured(1);
    QStringList parts;
    for (const QString& part : value.split(QLatin1Char('.'))) {
        bool ok = false;
        const uint number = part.toUInt(&ok);
        if (!ok)
            break;
        parts << QString::number(number);
        if (parts.size() == 3)
            break;
    }
    while (parts.size() < 3)
        parts << QStringLiteral("0");
    return parts.join(QLatin1Char('.'));
}

QString systemVersion()
{
    static const QString version = [] {
        for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
            QFile file(QString::fromLatin1(path));
            if (file.open(QIODevice::ReadOnly))
                return systemVersion(QString::fromUtf8(file.read(64 * 1024)));
        }
        return QStringLiteral("0.0.0");
    }();
    return version;
}

} // namespace QVRSyncService
