#include "sync/QVRXMLParser.h"

#include "platform/core/Log.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace QVRXMLExtentions {
bool isTrue(const QString& s)
{
    return s == QLatin1String("true");
}
bool isFalse(const QString& s)
{
    return s == QLatin1String("false");
}
} // namespace QVRXMLExtentions

namespace {

// A reply that is UTF-8 by its declaration (or by having none) but holds a
// malformed byte sequence, decoded with U+FFFD in place of each bad
// sequence. Without this, one damaged byte in one note's text refused every
// note of the reply, on every sync. Replies in other encodings are left to
// the reader.
std::optional<QString> repairedUtf8(const QByteArray& data)
{
    if (data.startsWith("\xFE\xFF") || data.startsWith("\xFF\xFE") || data.startsWith('\0'))
        return std::nullopt;
    // Well-formed UTF-8, the usual reply, needs no look at the declaration.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(data);
    if (!decoder.hasError())
        return std::nullopt;
    static const QRegularExpression declaration(
        QStringLiteral(R"(^\s*<\?xml[^>]*?encoding\s*=\s*["']([^"']*)["'])"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(data.left(256)));
    if (match.hasMatch() && match.captured(1).compare(QLatin1String("utf-8"), Qt::CaseInsensitive) != 0 &&
        match.captured(1).compare(QLatin1String("utf8"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return text;
}

} // namespace

std::unique_ptr<QVRXMLParser> QVRXMLParser::parseData(const QByteArray& data, QVRXMLParserDelegate* delegate)
{
    auto parser = std::make_unique<QVRXMLParser>();
    parser->setDelegate(delegate);
    parser->read(data);
    parser->deliver();
    return parser;
}

bool QVRXMLParser::read(const QByteArray& data)
{
    m_success = false;
    m_error.clear();
    m_reports.clear();
    if (data.size() > MaximumSize) {
        m_error = QStringLiteral("reply larger than %1 bytes").arg(MaximumSize);
        return false;
    }

    const std::optional<QString> repaired = repairedUtf8(data);
    QXmlStreamReader reader;
    if (repaired)
        reader.addData(*repaired);
    else
        reader.addData(data);
    bool started = false;
    std::optional<QString> name;
    QVRXMLAttributes attributes;
    std::optional<QString> text;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            reader.raiseError(QStringLiteral("document type declarations are not accepted"));
            break;
        case QXmlStreamReader::EntityReference:
            reader.raiseError(QStringLiteral("entity references are not accepted"));
            break;
        case QXmlStreamReader::StartElement: {
            started = true;
            name = reader.qualifiedName().toString();
            attributes.clear();
            // Through a const list: a loop over the returned copy itself would
            // copy every attribute once more.
            const QXmlStreamAttributes found = reader.attributes();
            for (const QXmlStreamAttribute& attribute : found)
                attributes.insert(attribute.qualifiedName().toString(), attribute.value().toString());
            text.reset();
            break;
        }
        case QXmlStreamReader::Characters:
            if (name) {
                if (!text)
                    text = QString();
                text->append(reader.text());
            }
            break;
        case QXmlStreamReader::EndElement:
            if (name) {
                Report report{*name, std::nullopt, attributes};
                if (text)
                    report.attributes->insert(QStringLiteral("text"), *text);
                auto value = report.attributes->constFind(QStringLiteral("value"));
                if (value != report.attributes->constEnd())
                    report.value = *value;
                if (report.value && report.attributes->size() == 1)
                    report.attributes.reset();
                else if (report.attributes->isEmpty())
                    report.attributes = QVRXMLAttributes();
                m_reports.push_back(std::move(report));
            }
            name.reset();
            attributes.clear();
            text.reset();
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        m_error = QStringLiteral("%1 (line %2, column %3)")
                      .arg(reader.errorString())
                      .arg(reader.lineNumber())
                      .arg(reader.columnNumber());
        m_reports.clear();
        return false;
    }
    if (!started) {
        m_error = QStringLiteral("no root element");
        return false;
    }
    m_success = true;
    return true;
}

void QVRXMLParser::deliver()
{
    if (!m_success) {
        platform::log(QStringLiteral("Unable to parse XML"));
    } else if (m_delegate) {
        for (const Report& report : m_reports)
            m_delegate->parserEncounteredName(this, report.name, report.value, report.attributes);
    }
    if (m_delegate)
        m_delegate->parserCompleted(this);
}
