#pragma once

#include <QList>
#include <QStringView>
#include <QUrl>

// Finds the links a note's plain text holds: web addresses (with or without
// their scheme when they start with "www.") and e-mail addresses. Only
// addresses that may safely leave the program are reported.
namespace LinkDetector {

struct Link
{
    qsizetype start = 0;
    qsizetype length = 0;
    QUrl url;

    bool operator==(const Link& other) const = default;
};

// The links of one piece of text (a paragraph), in order, not overlapping.
QList<Link> linksInText(QStringView text);

// Whether a link may be handed to the desktop: http and https with a host,
// and mailto. Everything else (file:, javascript:, data:, custom schemes)
// stays inside the program.
bool isSafeLink(const QUrl& url);

} // namespace LinkDetector
