#pragma once
// The recorder's small button images, drawn in code and cached for the process.

#include <QPixmap>
#include <QString>

namespace KRSharedImageProvider {
// "KRSnapback", "KRRemoveShortcut", "KRRemoveShortcutRollover",
// "KRRemoveShortcutPressed"; a null pixmap for any other name.
QPixmap supportingImageWithName(const QString& name);
} // namespace KRSharedImageProvider
