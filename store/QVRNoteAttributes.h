#pragma once

#include <QString>
#include <QVariantMap>

// The attribute dictionary of one note as it travels between the store, the
// application and sync. Each key is present only when the note has a value.
using QVRNoteAttributes = QVariantMap;

namespace QVRNoteAttributeKey {
inline const QString uuid = QStringLiteral("uuid");
inline const QString archived = QStringLiteral("archived");
inline const QString modified = QStringLiteral("modified");
inline const QString date = QStringLiteral("date");
inline const QString text = QStringLiteral("text");
} // namespace QVRNoteAttributeKey
