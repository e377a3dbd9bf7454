#include "quicklook/QuillaryQuickLook.h"

#include "platform/plist/PropertyListBounds.h"

#include <plist/plist.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Note files are a few kilobytes; anything past this is not one.
constexpr long kMaxFileSize = 64L * 1024 * 1024;

struct PluginInstance
{
    QLGeneratorInterfaceStruct* conduitInterface; // first, as loaders expect
    QLUUIDRef factoryID;
    // Loaders may add and release references from several threads.
    std::atomic<uint32_t> refCount;
};

const QLGeneratorInterfaceStruct kInterfaceTemplate = {
    nullptr,
    QuickLookGeneratorQueryInterface,
    QuickLookGeneratorPluginAddRef,
    QuickLookGeneratorPluginRelease,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

void logLine(const std::string& line)
{
    std::string out = line;
    for (char& c : out)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s\n", out.c_str());
}

bool readFile(const char* path, std::string* data, std::string* problem)
{
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) {
        *problem = std::string("The file could not be opened: ") + std::strerror(errno);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, n);
        if (static_cast<long>(bytes.size()) > kMaxFileSize) {
            std::fclose(file);
            *problem = "The file is too large to be a note.";
            return false;
        }
    }
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed) {
        *problem = "The file could not be read.";
        return false;
    }
    *data = std::move(bytes);
    return true;
}

std::string replaceAll(const std::string& text, const std::string& placeholder, const std::string& value)
{
    std::string out;
    out.reserve(text.size() + value.size());
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(placeholder, from);
        if (at == std::string::npos)
            break;
        out.append(text, from, at - from);
        out += value;
        from = at + placeholder.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

} // namespace

namespace quillary_preview {

std::string escapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string renderPreview(const std::string& templateText, const char* data, size_t size,
                          std::string* problem)
{
    std::string text;
    std::string cssClass;
    plist_t root = nullptr;
    // The library recurses while it parses and frees: input nested deeper
    // than any note is refused before it gets there.
    std::string boundsProblem;
    const bool plausible = size >= 8 && size <= UINT32_MAX;
    const bool bounded = plausible && platform::propertyListWithinBounds(data, size, &boundsProblem);
    if (bounded)
        plist_from_memory(data, static_cast<uint32_t>(size), &root);
    if (root && plist_get_node_type(root) == PLIST_DICT) {
        // Only a string is text, and only a true boolean or a non-zero number
        // marks a note archived: other types from a foreign writer are
        // ignored rather than trusted.
        plist_t textNode = plist_dict_get_item(root, "text");
        if (textNode && plist_get_node_type(textNode) == PLIST_STRING) {
            // With its length: the text may hold NUL characters.
            uint64_t length = 0;
            if (const char* value = plist_get_string_ptr(textNode, &length))
                text.assign(value, static_cast<size_t>(length));
        }
        plist_t archivedNode = plist_dict_get_item(root, "archived");
        bool archived = false;
        if (archivedNode) {
            switch (plist_get_node_type(archivedNode)) {
            case PLIST_BOOLEAN: {
                uint8_t b = 0;
                plist_get_bool_val(archivedNode, &b);
                archived = b != 0;
                break;
            }
            case PLIST_UINT: {
                uint64_t v = 0;
                plist_get_uint_val(archivedNode, &v);
                archived = v != 0;
                break;
            }
            case PLIST_REAL: {
                double d = 0;
                plist_get_real_val(archivedNode, &d);
                archived = d != 0.0;
                break;
            }
            default:
                break;
            }
        }
        if (archived)
            cssClass = "archived";
    } else if (problem) {
        *problem = root                     ? "The property list is not a dictionary."
                   : !boundsProblem.empty() ? boundsProblem
                                            : "The data is not a property list.";
    }
    if (root)
        plist_free(root);
    const std::string withClass = replaceAll(templateText, "{CLASS}", cssClass);
    return replaceAll(withClass, "{TEXT}", escapeHtml(text));
}

} // namespace quillary_preview

extern "C" {

void* QuickLookGeneratorPluginFactory(void*, QLUUIDRef typeID)
{
    QLUUIDRef generatorType = QLUUIDCreateFromString(QL_GENERATOR_TYPE_ID);
    const bool isGenerator =
        typeID && QLUUIDBytesEqual(QLUUIDGetBytes(typeID), QLUUIDGetBytes(generatorType));
    QLUUIDRelease(generatorType);
    if (!isGenerator)
        return nullptr;
    QLUUIDRef factory = QLUUIDCreateFromString(QUILLARY_PREVIEW_FACTORY_ID);
    void* instance = AllocQuickLookGeneratorPluginType(factory);
    QLUUIDRelease(factory);
    return instance;
}

void* AllocQuickLookGeneratorPluginType(QLUUIDRef factoryID)
{
    auto* instance = new (std::nothrow) PluginInstance;
    if (!instance)
        return nullptr;
    instance->conduitInterface = new (std::nothrow) QLGeneratorInterfaceStruct(kInterfaceTemplate);
    if (!instance->conduitInterface) {
        delete instance;
        return nullptr;
    }
    instance->factoryID = QLUUIDRetain(factoryID);
    QLPlugInAddInstanceForFactory(factoryID);
    instance->refCount.store(1);
    return instance;
}

void DeallocQuickLookGeneratorPluginType(void* pointer)
{
    auto* instance = static_cast<PluginInstance*>(pointer);
    if (!instance)
        return;
    // Take what we still need out of the record before it goes.
    QLUUIDRef factoryID = instance->factoryID;
    delete instance->conduitInterface;
    delete instance;
    if (factoryID) {
        QLPlugInRemoveInstanceForFactory(factoryID);
        QLUUIDRelease(factoryID);
    }
}

int32_t QuickLookGeneratorQueryInterface(void* pointer, QLUUIDBytes iid, void** out)
{
    auto* instance = static_cast<PluginInstance*>(pointer);
    QLUUIDRef callbacks = QLUUIDCreateFromString(QL_GENERATOR_CALLBACKS_INTERFACE_ID);
    const bool match = QLUUIDBytesEqual(iid, QLUUIDGetBytes(callbacks));
    QLUUIDRelease(callbacks);
    if (!match || !instance) {
        if (out)
            *out = nullptr;
        return QL_E_NOINTERFACE;
    }
    instance->conduitInterface->GenerateThumbnailForURL = GenerateThumbnailForURL;
    instance->conduitInterface->CancelThumbnailGeneration = CancelThumbnailGeneration;
    instance->conduitInterface->GeneratePreviewForURL = GeneratePreviewForURL;
    instance->conduitInterface->CancelPreviewGeneration = CancelPreviewGeneration;
    instance->conduitInterface->AddRef(instance);
    if (out)
        *out = instance;
    return QL_S_OK;
}

uint32_t QuickLookGeneratorPluginAddRef(void* pointer)
{
    auto* instance = static_cast<PluginInstance*>(pointer);
    return instance->refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t QuickLookGeneratorPluginRelease(void* pointer)
{
    auto* instance = static_cast<PluginInstance*>(pointer);
    const uint32_t before = instance->refCount.fetch_sub(1, std::memory_order_acq_rel);
    if (before == 1) {
        DeallocQuickLookGeneratorPluginType(instance);
        return 0;
    }
    return before - 1;
}

int32_t GenerateThumbnailForURL(void*, void*, const char*, const char*, void*, double, double)
{
    return 0;
}

void CancelThumbnailGeneration(void*, void*) {}

int32_t GeneratePreviewForURL(void*, QLPreviewRequestRef request, const char* url, const char*, void*)
{
    if (QLPreviewRequestIsCancelled(request))
        return 0;
    const std::string templatePath =
        std::string(QLPreviewRequestGetGeneratorBundlePath(request)) + "/Contents/Resources/Template.html";
    std::string templateText;
    std::string problem;
    if (!readFile(templatePath.c_str(), &templateText, &problem)) {
        logLine("Quillary template not found: " + problem + " (" + templatePath + ")");
        return 0;
    }
    std::string data;
    std::string fileProblem;
    std::string renderProblem;
    std::string html;
    if (readFile(url, &data, &fileProblem)) {
        html = quillary_preview::renderPreview(templateText, data.data(), data.size(), &renderProblem);
    } else {
        html = quillary_preview::renderPreview(templateText, nullptr, 0);
        renderProblem = fileProblem;
    }
    if (!renderProblem.empty())
        logLine("Error opening file: " + renderProblem + ", {NSFilePath = " + std::string(url ? url : "") +
                "}");
    const QLPreviewProperties properties{"text/html", "UTF-8", 320, 380};
    QLPreviewRequestSetDataRepresentation(request, html.data(), html.size(), "public.html", &properties);
    return 0;
}

void CancelPreviewGeneration(void*, QLPreviewRequestRef) {}

} // extern "C"
