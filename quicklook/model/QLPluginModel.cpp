#include "quicklook/model/QLPluginModel.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

struct QLUUID
{
    QLUUIDBytes bytes;
    std::atomic<uint32_t> count{1};
};

struct QLPreviewRequest
{
    std::atomic<bool> cancelled{false};
    std::string bundlePath;
    bool hasData = false;
    std::string data;
    std::string contentType;
    std::string mimeType;
    std::string encoding;
    int width = 0;
    int height = 0;
};

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::mutex gRegistryMutex;
std::map<std::string, int>& registry()
{
    static auto* r = new std::map<std::string, int>();
    return *r;
}

std::string key(QLUUIDRef uuid)
{
    return std::string(reinterpret_cast<const char*>(uuid->bytes.byte), 16);
}
} // namespace

extern "C" {

QLUUIDRef QLUUIDCreateFromString(const char* text)
{
    if (!text || std::strlen(text) != 36)
        return nullptr;
    QLUUIDBytes bytes{};
    int n = 0;
    for (int i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return nullptr;
            ++i;
            continue;
        }
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return nullptr;
        bytes.byte[n++] = static_cast<uint8_t>(high * 16 + low);
        i += 2;
    }
    auto* uuid = new QLUUID;
    uuid->bytes = bytes;
    return uuid;
}

QLUUIDRef QLUUIDRetain(QLUUIDRef uuid)
{
    if (uuid)
        uuid->count.fetch_add(1, std::memory_order_relaxed);
    return uuid;
}

void QLUUIDRelease(QLUUIDRef uuid)
{
    if (uuid && uuid->count.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete uuid;
}

QLUUIDBytes QLUUIDGetBytes(QLUUIDRef uuid)
{
    return uuid ? uuid->bytes : QLUUIDBytes{};
}

int QLUUIDBytesEqual(QLUUIDBytes a, QLUUIDBytes b)
{
    return std::memcmp(a.byte, b.byte, 16) == 0;
}

void QLUUIDGetString(QLUUIDRef uuid, char out[37])
{
    const QLUUIDBytes b = QLUUIDGetBytes(uuid);
    std::snprintf(out, 37, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b.byte[0],
                  b.byte[1], b.byte[2], b.byte[3], b.byte[4], b.byte[5], b.byte[6], b.byte[7], b.byte[8],
                  b.byte[9], b.byte[10], b.byte[11], b.byte[12], b.byte[13], b.byte[14], b.byte[15]);
}

void QLPlugInAddInstanceForFactory(QLUUIDRef factory)
{
    if (!factory)
        return;
    std::lock_guard lock(gRegistryMutex);
    ++registry()[key(factory)];
}

void QLPlugInRemoveInstanceForFactory(QLUUIDRef factory)
{
    if (!factory)
        return;
    std::lock_guard lock(gRegistryMutex);
    auto it = registry().find(key(factory));
    if (it != registry().end() && --it->second <= 0)
        registry().erase(it);
}

int QLPlugInInstanceCountForFactory(QLUUIDRef factory)
{
    if (!factory)
        return 0;
    std::lock_guard lock(gRegistryMutex);
    auto it = registry().find(key(factory));
    return it == registry().end() ? 0 : it->second;
}

QLPreviewRequestRef QLPreviewRequestCreate(const char* generatorBundlePath)
{
    auto* request = new QLPreviewRequest;
    request->bundlePath = generatorBundlePath ? generatorBundlePath : "";
    return request;
}

void QLPreviewRequestDestroy(QLPreviewRequestRef request)
{
    delete request;
}

void QLPreviewRequestCancel(QLPreviewRequestRef request)
{
    if (request)
        request->cancelled = true;
}

int QLPreviewRequestIsCancelled(QLPreviewRequestRef request)
{
    return request && request->cancelled ? 1 : 0;
}

const char* QLPreviewRequestGetGeneratorBundlePath(QLPreviewRequestRef request)
{
    return request ? request->bundlePath.c_str() : "";
}

void QLPreviewRequestSetDataRepresentation(QLPreviewRequestRef request, const char* data, size_t length,
                                           const char* contentType, const QLPreviewProperties* properties)
{
    if (!request)
        return;
    request->hasData = true;
    request->data.assign(data ? data : "", data ? length : 0);
    request->contentType = contentType ? contentType : "";
    if (properties) {
        request->mimeType = properties->mimeType ? properties->mimeType : "";
        request->encoding = properties->textEncodingName ? properties->textEncodingName : "";
        request->width = properties->width;
        request->height = properties->height;
    }
}

const char* QLPreviewRequestGetData(QLPreviewRequestRef request, size_t* length)
{
    if (!request || !request->hasData) {
        if (length)
            *length = 0;
        return nullptr;
    }
    if (length)
        *length = request->data.size();
    return request->data.data();
}

const char* QLPreviewRequestGetContentType(QLPreviewRequestRef request)
{
    return request ? request->contentType.c_str() : "";
}

QLPreviewProperties QLPreviewRequestGetProperties(QLPreviewRequestRef request)
{
    if (!request)
        return QLPreviewProperties{"", "", 0, 0};
    return QLPreviewProperties{request->mimeType.c_str(), request->encoding.c_str(), request->width,
                               request->height};
}

} // extern "C"
