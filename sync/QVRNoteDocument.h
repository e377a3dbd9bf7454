#pragma once

#include "sync/QVRSyncDocument.h"

// One note as one property-list file (see the format notes in the .cpp).
class QVRNoteDocument : public QVRSyncDocument
{
public:
    explicit QVRNoteDocument(const QString& fileURL = QString());

    QString documentType() const override;
    QVRNoteAttributes attributes() const override;
    void updateWithObject(const QVRNoteAttributes& record) override;
    bool loadFromContents(const QVariant& contents, const QString& type, platform::Error* error) override;
    std::optional<QByteArray> contentsForType(const QString& type, platform::Error* error) override;

    std::optional<double> date() const;
    void setDate(std::optional<double> date);
    std::optional<QString> text() const;
    void setText(std::optional<QString> text);
    // Whether the last load found a "uuid" in the file (rather than making one).
    bool hasStoredUuid() const;

    // Saves `record` as a new file at `url` (never over an existing one) and
    // waits for the outcome.
    static std::shared_ptr<QVRNoteDocument> saveObject(const QVRNoteAttributes& record, const QString& url,
                                                       platform::Error* error = nullptr);

    // True for an identifier that is safe as a file name: not empty, not "."
    // or "..", no "/" and no NUL.
    static bool isSafeUuid(const QString& uuid);

private:
    void resetFields();
    std::optional<double> m_date;
    std::optional<QString> m_text;
    bool m_hasStoredUuid = false;
};
