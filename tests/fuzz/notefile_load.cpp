// Feeds arbitrary bytes to the note-file loader, and checks that whatever it
// accepts survives a write and a second load unchanged.
#include "sync/QVRNoteDocument.h"

#include "platform/core/Log.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        platform::setLogSink([](const QString&) {});
        return true;
    }();
    (void)quiet;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QVRNoteDocument document;
    platform::Error error;
    if (!document.loadFromContents(QVariant(bytes), document.documentType(), &error))
        return 0;
    const QVRNoteAttributes attributes = document.attributes();
    if (!QVRNoteDocument::isSafeUuid(attributes.value(QStringLiteral("uuid")).toString()))
        __builtin_trap();
    const std::optional<QByteArray> written = document.contentsForType(document.documentType(), &error);
    if (!written) {
        // Only a NUL inside a string cannot be written back.
        const QString text = attributes.value(QStringLiteral("text")).toString();
        if (!text.contains(QChar(u'\0')))
            __builtin_trap();
        return 0;
    }
    QVRNoteDocument again;
    if (!again.loadFromContents(QVariant(*written), again.documentType(), &error))
        __builtin_trap();
    QVRNoteAttributes before = attributes;
    QVRNoteAttributes after = again.attributes();
    // A missing text is written as "".
    if (!before.contains(QStringLiteral("text")))
        before.insert(QStringLiteral("text"), QString());
    if (before != after)
        __builtin_trap();
    return 0;
}
