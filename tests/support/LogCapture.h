#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

namespace testsupport {

// Collects every line given to platform::log while it lives, from any
// thread, in place of stderr; destruction brings stderr back.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    // Whether some line begins with `prefix`, or contains `text`.
    bool hasLineStartingWith(const QString& prefix) const;
    bool contains(const QString& text) const;
    void clear();

private:
    struct Lines
    {
        std::mutex mutex;
        QStringList lines;
    };
    // Shared with the sink, so a line logged while the capture ends is safe.
    std::shared_ptr<Lines> m_lines;
};

} // namespace testsupport
