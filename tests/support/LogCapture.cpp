#include "tests/support/LogCapture.h"

#include "platform/core/Log.h"

namespace testsupport {

LogCapture::LogCapture() : m_lines(std::make_shared<Lines>())
{
    platform::setLogSink([lines = m_lines](const QString& line) {
        std::lock_guard lock(lines->mutex);
        lines->lines << line;
    });
}

LogCapture::~LogCapture()
{
    platform::setLogSink({});
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(m_lines->mutex);
    return m_lines->lines;
}

bool LogCapture::hasLineStartingWith(const QString& prefix) const
{
    std::lock_guard lock(m_lines->mutex);
    for (const QString& line : m_lines->lines) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

bool LogCapture::contains(const QString& text) const
{
    std::lock_guard lock(m_lines->mutex);
    for (const QString& line : m_lines->lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

void LogCapture::clear()
{
    std::lock_guard lock(m_lines->mutex);
    m_lines->lines.clear();
}

} // namespace testsupport
