#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QVRXMLParser;

using QVRXMLAttributes = QMap<QString, QString>;

// "true" and "false" exactly; any other spelling is neither.
namespace QVRXMLExtentions {
bool isTrue(const QString& s);
bool isFalse(const QString& s);
} // namespace QVRXMLExtentions

class QVRXMLParserDelegate
{
public:
    virtual ~QVRXMLParserDelegate() = default;
    virtual void parserEncounteredName(QVRXMLParser* parser, const QString& name,
                                       const std::optional<QString>& value,
                                       const std::optional<QVRXMLAttributes>& attributes) = 0;
    // Once at the end of every parse, also a failed one.
    virtual void parserCompleted(QVRXMLParser* /*parser*/) {}
};

// Reads a flat XML reply: each element without child elements becomes one
// report of (name, the attribute "value", the attributes plus "text" for its
// character data). The whole document is read before anything is reported, so
// a document that is not well-formed reports nothing: a reply cut short must
// not move the sync point past notes it never delivered. Documents with a DTD
// are refused, so no entity is ever expanded.
class QVRXMLParser
{
public:
    struct Report
    {
        QString name;
        std::optional<QString> value;
        std::optional<QVRXMLAttributes> attributes;
    };

    // Larger replies are refused unread.
    static constexpr qsizetype MaximumSize = 64 * 1024 * 1024;

    // Reads `data`, then reports to `delegate` (when well-formed) and
    // completes. Every report has been delivered when it returns.
    static std::unique_ptr<QVRXMLParser> parseData(const QByteArray& data, QVRXMLParserDelegate* delegate);

    // Reads without reporting; true when the document is well-formed.
    bool read(const QByteArray& data);
    // Reports what read() found to the delegate, then completes.
    void deliver();

    void setDelegate(QVRXMLParserDelegate* delegate) { m_delegate = delegate; }
    bool success() const { return m_success; }
    QString error() const { return m_error; }
    const std::vector<Report>& reports() const { return m_reports; }

private:
    QVRXMLParserDelegate* m_delegate = nullptr; // not owned
    bool m_success = false;
    QString m_error;
    std::vector<Report> m_reports;
};
