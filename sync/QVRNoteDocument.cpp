#include "sync/QVRNoteDocument.h"

#include "platform/core/Log.h"
#include "platform/core/Variant.h"
#include "platform/plist/PropertyList.h"
#include "platform/plist/PropertyListBounds.h"
#include "store/QVRUtilities.h"

#include <QUuid>

#include <cmath>

using platform::log;

// The note file is a binary property list whose root dictionary holds
// "uuid" (string), "archived" (boolean), "date" (real, seconds since 1970)
// and "text" (string). The note's modification time is the file's own
// content modification time; there is no "modified" entry.

namespace {
const QString kNotRightFormat = QStringLiteral("The file is not the right format.");

} // namespace

QVRNoteDocument::QVRNoteDocument(const QString& fileURL) : QVRSyncDocument(fileURL) {}

QString QVRNoteDocument::documentType() const
{
    return QStringLiteral("com.quorvane.quillary");
}

QVRNoteAttributes QVRNoteDocument::attributes() const
{
    QVRNoteAttributes result;
    const QString id = uuid();
    if (!id.isEmpty())
        result.insert(QVRNoteAttributeKey::uuid, id);
    result.insert(QVRNoteAttributeKey::archived, archived());
    if (const std::optional<double> modified = fileModificationDate())
        result.insert(QVRNoteAttributeKey::modified, *modified);
    std::lock_guard lock(m_mutex);
    if (m_date)
        result.insert(QVRNoteAttributeKey::date, *m_date);
    if (m_text)
        result.insert(QVRNoteAttributeKey::text, *m_text);
    return result;
}

bool QVRNoteDocument::isSafeUuid(const QString& uuid)
{
    return QVRUtilities::isSafeUUID(uuid);
}

void QVRNoteDocument::updateWithObject(const QVRNoteAttributes& record)
{
    QVRSyncDocument::updateWithObject(record);
    std::lock_guard lock(m_mutex);
    const QVariant date = record.value(QVRNoteAttributeKey::date);
    m_date = date.isValid() ? std::optional<double>(date.toDouble()) : std::nullopt;
    const QVariant text = record.value(QVRNoteAttributeKey::text);
    m_text = text.isValid() ? std::optional<QString>(text.toString()) : std::nullopt;
}

void QVRNoteDocument::resetFields()
{
    setArchived(false);
    std::lock_guard lock(m_mutex);
    m_date.reset();
    m_text = QString();
    m_hasStoredUuid = false;
}

bool QVRNoteDocument::loadFromContents(const QVariant& contents, const QString&, platform::Error* error)
{
    auto refuse = [&] {
        log(QStringLiteral("Error opening document: ") + kNotRightFormat);
        if (error)
            *error = QVRSyncError(QVRSyncErrors::NotRightFormat, kNotRightFormat);
        resetFields();
        return false;
    };
    if (contents.typeId() != QMetaType::QByteArray)
        return refuse();
    // Nesting no note has, which the parser would follow until the stack
    // runs out, is not a note file.
    const QByteArray bytes = contents.toByteArray();
    if (!platform::propertyListWithinBounds(bytes.constData(), std::size_t(bytes.size())))
        return refuse();

    QString parseError;
    const QVariant root = platform::readPropertyList(bytes, &parseError);
    if (root.typeId() != QMetaType::QVariantMap) {
        if (!root.isValid()) {
            platform::Error e;
            e.domain = QStringLiteral("NSCocoaErrorDomain");
            e.code = 3840;
            e.localizedDescription = parseError;
            log(QStringLiteral("Error opening document: %1 %2")
                    .arg(QVRDescribeError(e), QVRDescribeUserInfo(e.userInfo)));
            if (error)
                *error = e;
        } else {
            // Parsed, but not a dictionary: there is no parser error to hand on.
            log(QStringLiteral("Error opening document: %1 %2")
                    .arg(QStringLiteral("(null)"), QStringLiteral("(null)")));
        }
        resetFields();
        return false;
    }
    const QVariantMap map = root.toMap();
    const QVariant uuid = map.value(QVRNoteAttributeKey::uuid);
    const QVariant archived = map.value(QVRNoteAttributeKey::archived);
    const QVariant date = map.value(QVRNoteAttributeKey::date);
    const QVariant text = map.value(QVRNoteAttributeKey::text);

    // Values flow into the store and into file names: take each only in the
    // type the format gives it, and an identifier only when it is safe as a
    // file name.
    if (uuid.isValid() && (uuid.typeId() != QMetaType::QString || !isSafeUuid(uuid.toString())))
        return refuse();
    if (text.isValid() && text.typeId() != QMetaType::QString)
        return refuse();
    // A date that is not a finite number would sort and show as nonsense.
    if (date.isValid() && (!platform::isNumber(date) || !std::isfinite(date.toDouble())))
        return refuse();

    bool isArchived = false;
    if (archived.typeId() == QMetaType::Bool)
        isArchived = archived.toBool();
    else if (platform::isNumber(archived))
        isArchived = archived.toDouble() != 0.0;

    setUuid(uuid.isValid() ? uuid.toString() : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    setArchived(isArchived);
    std::lock_guard lock(m_mutex);
    m_hasStoredUuid = uuid.isValid();
    m_date = date.isValid() ? std::optional<double>(date.toDouble()) : std::nullopt;
    m_text = text.isValid() ? std::optional<QString>(text.toString()) : std::nullopt;
    return true;
}

std::optional<QByteArray> QVRNoteDocument::contentsForType(const QString&, platform::Error* error)
{
    QVariantMap map;
    const QString id = uuid();
    map.insert(QVRNoteAttributeKey::archived, archived());
    {
        std::lock_guard lock(m_mutex);
        if (m_date)
            map.insert(QVRNoteAttributeKey::date, *m_date);
        map.insert(QVRNoteAttributeKey::text, m_text.value_or(QString()));
    }
    if (!id.isEmpty())
        map.insert(QVRNoteAttributeKey::uuid, id);
    QString writeError;
    QByteArray data = platform::writePropertyList(map, platform::PropertyListFormat::Binary, &writeError);
    if (data.isEmpty()) {
        platform::Error e;
        e.domain = QStringLiteral("NSCocoaErrorDomain");
        e.code = 3851;
        e.localizedDescription = writeError;
        log(QStringLiteral("Error writing document: %1 %2")
                .arg(QVRDescribeError(e), QVRDescribeUserInfo(e.userInfo)));
        if (error)
            *error = e;
        return std::nullopt;
    }
    // Every reader of note files, another computer's included, refuses one
    // larger than this, and the text itself has no limit: such a note stays
    // where it is rather than become a file that cannot be read back.
    if (std::size_t(data.size()) > platform::kPropertyListMaxBytes) {
        const platform::Error e =
            QVRSyncError(QVRSyncErrors::TooLarge,
                         QStringLiteral("The note is too large to be saved as a note file, which can hold at "
                                        "most %1 MB.")
                             .arg(platform::kPropertyListMaxBytes / (1024 * 1024)));
        if (error)
            *error = e;
        return std::nullopt;
    }
    return data;
}

std::optional<double> QVRNoteDocument::date() const
{
    std::lock_guard lock(m_mutex);
    return m_date;
}

void QVRNoteDocument::setDate(std::optional<double> date)
{
    std::lock_guard lock(m_mutex);
    m_date = date;
}

std::optional<QString> QVRNoteDocument::text() const
{
    std::lock_guard lock(m_mutex);
    return m_text;
}

void QVRNoteDocument::setText(std::optional<QString> text)
{
    std::lock_guard lock(m_mutex);
    m_text = std::move(text);
}

bool QVRNoteDocument::hasStoredUuid() const
{
    std::lock_guard lock(m_mutex);
    return m_hasStoredUuid;
}

std::shared_ptr<QVRNoteDocument> QVRNoteDocument::saveObject(const QVRNoteAttributes& record,
                                                             const QString& url, platform::Error* error)
{
    auto saved = saveObjectWith([] { return std::make_shared<QVRNoteDocument>(); }, record, url, error);
    return std::static_pointer_cast<QVRNoteDocument>(saved);
}
