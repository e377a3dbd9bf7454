#include "app/commands/QVRFileTypes.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringDecoder>

namespace QVRFileTypes {
namespace {

const QString FileErrorDomain = QStringLiteral("NSCocoaErrorDomain");

void fail(platform::Error* error, int code, const QString& description)
{
    if (!error)
        return;
    error->domain = FileErrorDomain;
    error->code = code;
    error->localizedDescription = description;
}

// The bytes 0x80 to 0x9F of Windows-1252; the rest are Latin-1. The five
// unassigned bytes stay as their C1 control characters.
constexpr char16_t Windows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                          0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += QChar(byte >= 0x80 && byte < 0xA0 ? Windows1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

// Whether every surrogate has its partner. The UTF-16 and UTF-32 decoders
// pass a lone one through without reporting an error.
bool pairedSurrogates(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return false;
    }
    return true;
}

std::optional<QString> strictly(QStringDecoder::Encoding encoding, QByteArrayView bytes)
{
    // A trailing part of a unit is dropped silently by the decoders.
    const qsizetype unit = encoding == QStringDecoder::Utf16LE || encoding == QStringDecoder::Utf16BE   ? 2
                           : encoding == QStringDecoder::Utf32LE || encoding == QStringDecoder::Utf32BE ? 4
                                                                                                        : 1;
    if (bytes.size() % unit != 0)
        return std::nullopt;
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || !pairedSurrogates(text))
        return std::nullopt;
    return text;
}

} // namespace

FileType typeOfFile(const QString& path, platform::Error* error)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        fail(error, 260,
             QStringLiteral("The file \u201c%1\u201d couldn\u2019t be opened because there is no "
                            "such file.")
                 .arg(info.fileName()));
        return FileType::Unreadable;
    }
    if (!info.isFile())
        return FileType::Other;
    if (info.suffix().compare(QLatin1String("quillary"), Qt::CaseInsensitive) == 0)
        return FileType::NoteDocument;
    // By name only: a file without an extension is not sniffed into text.
    static const QMimeDatabase database;
    if (database.mimeTypeForFile(path, QMimeDatabase::MatchExtension).name() == QLatin1String("text/plain"))
        return FileType::PlainText;
    return FileType::Other;
}

std::optional<QString> decodeText(const QByteArray& bytes)
{
    struct Mark
    {
        QByteArrayView bytes;
        QStringDecoder::Encoding encoding;
    };
    // UTF-32 LE before UTF-16 LE: its mark begins with the same two bytes.
    static const Mark marks[] = {
        {QByteArrayView("\xEF\xBB\xBF", 3), QStringDecoder::Utf8},
        {QByteArrayView("\xFF\xFE\x00\x00", 4), QStringDecoder::Utf32LE},
        {QByteArrayView("\x00\x00\xFE\xFF", 4), QStringDecoder::Utf32BE},
        {QByteArrayView("\xFF\xFE", 2), QStringDecoder::Utf16LE},
        {QByteArrayView("\xFE\xFF", 2), QStringDecoder::Utf16BE},
    };
    std::optional<QString> text;
    bool marked = false;
    for (const Mark& mark : marks) {
        if (QByteArrayView(bytes).startsWith(mark.bytes)) {
            text = strictly(mark.encoding, QByteArrayView(bytes).sliced(mark.bytes.size()));
            marked = true;
            break;
        }
    }
    if (!marked) {
        text = strictly(QStringDecoder::Utf8, bytes);
        if (!text)
            text = fromWindows1252(bytes);
    }
    if (!text || text->contains(QChar(u'\0')))
        return std::nullopt;
    return text;
}

std::optional<QString> readText(const QString& path, platform::Error* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, 257, file.errorString());
        return std::nullopt;
    }
    // The size is checked on the open file, and the read stops one byte past
    // the limit, so a file that grows meanwhile is refused all the same.
    if (file.size() > MaximumFileSize) {
        fail(error, 263, QStringLiteral("The file is too large to open as a note."));
        return std::nullopt;
    }
    const QByteArray bytes = file.read(MaximumFileSize + 1);
    if (bytes.size() > MaximumFileSize) {
        fail(error, 263, QStringLiteral("The file is too large to open as a note."));
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        fail(error, 256, file.errorString());
        return std::nullopt;
    }
    std::optional<QString> text = decodeText(bytes);
    if (!text)
        fail(error, 264, QStringLiteral("The file is not text in an encoding Quillary can read."));
    return text;
}

} // namespace QVRFileTypes
