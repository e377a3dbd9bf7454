#include "store/Note.h"

#include "platform/data/ManagedObjectContext.h"
#include "store/QVRUtilities.h"

const QString QVRNoteEntityName = QStringLiteral("Note");

const QString Note::TitleKey = QStringLiteral("title");

namespace {

const QString TextKey = QStringLiteral("text");

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

} // namespace

std::unique_ptr<platform::ManagedObject> Note::create()
{
    return std::unique_ptr<platform::ManagedObject>(new Note);
}

QString Note::title() const
{
    const QVariant cached = primitiveValue(TitleKey);
    if (!cached.isNull())
        return cached.toString();
    // A note read without its text (a search's history) has its title read
    // from the file, as the list's own notes have: the text may be large.
    if (!isLoaded(TextKey) && !isFault() && context() &&
        context()->loadFirstLine(const_cast<Note*>(this), {TitleKey, TextKey, TitlePrefixLength})) {
        const QVariant read = primitiveValue(TitleKey);
        if (!read.isNull())
            return read.toString();
    }
    const QVariant text = value(TextKey);
    if (text.isNull())
        return {};
    // The text trimmed, up to its first line break; found in place, since
    // copying and trimming a text of megabytes to keep its first words
    // would cost as much as the text.
    const QString whole = text.toString();
    qsizetype start = 0;
    qsizetype end = whole.size();
    while (start < end && whole.at(start).isSpace())
        ++start;
    while (end > start && whole.at(end - 1).isSpace())
        --end;
    for (qsizetype i = start; i < end; ++i) {
        if (isLineBreak(whole.at(i))) {
            end = i;
            break;
        }
    }
    QString title = whole.mid(start, end - start);
    if (title.isNull())
        title = QStringLiteral("");
    const_cast<Note*>(this)->setPrimitiveValue(TitleKey, title);
    return title;
}

QVRNoteAttributes Note::attributes() const
{
    QVRNoteAttributes attributes;
    for (const QString& key :
         {QVRNoteAttributeKey::uuid, QVRNoteAttributeKey::archived, QVRNoteAttributeKey::modified,
          QVRNoteAttributeKey::date, QVRNoteAttributeKey::text}) {
        const QVariant value = this->value(key);
        if (!value.isNull())
            attributes.insert(key, value);
    }
    return attributes;
}

QString Note::queryString() const
{
    // Numbers in the C locale whatever the user's: this goes on the wire.
    const QVariant text = this->text();
    return QStringLiteral("&uuid=%1&date=%2&text=%3")
        .arg(QVRUtilities::fullEscape(uuid()), QString::number(date().toDouble(), 'f', 6),
             text.isNull() ? QString() : QVRUtilities::fullEscape(text.toString()));
}

void Note::didChangeValue(const QString& key)
{
    if (key == TextKey) {
        setPrimitiveValue(TitleKey, QVariant());
        QVRSyncObject::didChangeValue(TitleKey);
    }
    QVRSyncObject::didChangeValue(key);
}

void Note::didLoadValues(const QStringList& keys)
{
    // The title read with the list may be cut short: the text has it whole.
    if (keys.contains(TextKey))
        setPrimitiveValue(TitleKey, QVariant());
}
