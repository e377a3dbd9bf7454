#pragma once

#include "store/QVRSyncObject.h"

#include <memory>

// The name of the note entity, shared by the store, the application and sync.
extern const QString QVRNoteEntityName;

class Note : public QVRSyncObject
{
public:
    static std::unique_ptr<platform::ManagedObject> create();

    // The transient cache of title(); a list may fetch it from the file in
    // place of the text, cut to TitlePrefixLength (see FirstLineKey).
    static const QString TitleKey;
    static constexpr int TitlePrefixLength = 4096;

    QString text() const { return value(QStringLiteral("text")).toString(); }
    void setText(const QString& text) { setValue(QStringLiteral("text"), text); }
    QVariant date() const { return value(QStringLiteral("date")); }
    void setDate(const QVariant& date) { setValue(QStringLiteral("date"), date); }
    QVariant removed() const { return value(QStringLiteral("removed")); }
    void setRemoved(const QVariant& removed) { setValue(QStringLiteral("removed"), removed); }

    // The first non-blank line of the text, trimmed; null without text.
    // While the text is not loaded, the title its fetch read (a prefix of
    // TitlePrefixLength when the line is longer).
    QString title() const;

    QVRNoteAttributes attributes() const override;
    // "&uuid=…&date=…&text=…", escaped for a form body.
    QString queryString() const override;

protected:
    void didChangeValue(const QString& key) override;
    void didLoadValues(const QStringList& keys) override;
};
