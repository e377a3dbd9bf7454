#pragma once

#include <QString>
#include <QUrl>

// Where the web sync service lives. The origin is fixed, but the environment
// variable QUILLARY_SERVICE_URL may point it elsewhere (scheme, host, port);
// plain http is accepted only for a literal loopback address, so that a
// password never travels in clear text.
namespace QVRSyncService {

// "https://sync.quorvane.com" unless overridden; an invalid override leaves an
// empty URL, and nothing is sent.
QUrl origin();
// Why the configured origin is refused, or an empty string when it is usable.
QString originError();
// The host of the origin; the server name of the keyring items.
QString host();
// The one endpoint: the origin with the path "/sync/quillary/xml.php".
QUrl syncURL();
// Whether a request may go to `url`: https, or plain http to a literal
// loopback address (127.0.0.0/8 or ::1); names are never trusted for this.
bool isSafeURL(const QUrl& url);
// Three integers from os-release's VERSION_ID ("12" -> "12.0.0"), "0.0.0" when
// there is none.
QString systemVersion(const QString& osReleaseText);
QString systemVersion();

} // namespace QVRSyncService
