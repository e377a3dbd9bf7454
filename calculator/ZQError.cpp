#include "calculator/ZQError.h"

#include <cstdio>
#include <mutex>

std::string ZQError::description() const
{
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + message + "\"";
}

ZQError ZQMakeError(ZQErrorCode code, std::string message)
{
    ZQError error;
    error.code = static_cast<int>(code);
    error.message = std::move(message);
    return error;
}

void ZQSetError(ZQErrorPlace place, ZQErrorCode code, std::string message)
{
    if (place)
        *place = ZQMakeError(code, std::move(message));
}

bool ZQSetErrorIfEmpty(ZQErrorPlace place, ZQError error)
{
    if (!place || place->has_value())
        return false;
    *place = std::move(error);
    return true;
}

namespace {
std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}
ZQLogSink& sink()
{
    static ZQLogSink s;
    return s;
}
} // namespace

void ZQSetLogSink(ZQLogSink newSink)
{
    std::lock_guard lock(sinkMutex());
    sink() = std::move(newSink);
}

void ZQLog(std::string_view line)
{
    ZQLogSink current;
    {
        std::lock_guard lock(sinkMutex());
        current = sink();
    }
    if (current) {
        current(line);
        return;
    }
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
}
