#include "platform/core/Log.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {
std::mutex& sinkMutex()
{
    static std::mutex m;
    return m;
}
std::function<void(const QString&)>& sink()
{
    static std::function<void(const QString&)> s;
    return s;
}
} // namespace

void log(const QString& line)
{
    // A message with a line break would read as two messages to a log reader.
    QString oneLine = line;
    oneLine.replace(QLatin1Char('\r'), QLatin1String("\\r")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(oneLine);
        return;
    }
    const QByteArray bytes = oneLine.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void setLogSink(std::function<void(const QString&)> newSink)
{
    std::lock_guard lock(sinkMutex());
    sink() = std::move(newSink);
}

} // namespace platform
