#pragma once

#include <QString>
#include <QUrl>

// The password manager that can look an account up: found through the
// desktop's handler for its URL scheme. No state.
class QVRPasswordUtilities
{
public:
    // The URL scheme the look-up goes through.
    static QString scheme();
    // Whether some application of the desktop handles the scheme: a default
    // or added association in a mimeapps.list, or an application entry that
    // lists the scheme's type.
    static bool utilityIsInstalled();
    // The look-up link for `search`, the text put in unchanged.
    static QUrl utilityURLForSearch(const QString& search);
};
