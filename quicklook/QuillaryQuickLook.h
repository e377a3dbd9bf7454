// The note preview generator: the plug-in entry points a preview loader
// calls, and the page building behind them.
#pragma once

#include "quicklook/model/QLPluginModel.h"

#include <string>

#ifdef __cplusplus
extern "C" {
#endif

#define QUILLARY_PREVIEW_FACTORY_ID "CEE252FA-BCEF-485C-AB30-096AE8393C69"

QL_EXPORT void* QuickLookGeneratorPluginFactory(void* allocator, QLUUIDRef typeID);
QL_EXPORT void* AllocQuickLookGeneratorPluginType(QLUUIDRef factoryID);
QL_EXPORT void DeallocQuickLookGeneratorPluginType(void* instance);
QL_EXPORT int32_t QuickLookGeneratorQueryInterface(void* instance, QLUUIDBytes iid, void** out);
QL_EXPORT uint32_t QuickLookGeneratorPluginAddRef(void* instance);
QL_EXPORT uint32_t QuickLookGeneratorPluginRelease(void* instance);
QL_EXPORT int32_t GenerateThumbnailForURL(void* instance, void* request, const char* url,
                                          const char* contentType, void* options, double maxWidth,
                                          double maxHeight);
QL_EXPORT void CancelThumbnailGeneration(void* instance, void* request);
QL_EXPORT int32_t GeneratePreviewForURL(void* instance, QLPreviewRequestRef request, const char* url,
                                        const char* contentType, void* options);
QL_EXPORT void CancelPreviewGeneration(void* instance, QLPreviewRequestRef request);

#ifdef __cplusplus
}

namespace quillary_preview {

// Escapes & < > " ' so that note text can only ever be text in the page.
std::string escapeHtml(const std::string& text);

// Fills `templateText` from the note file's bytes: "{CLASS}" first, then
// "{TEXT}", one pass each. Bytes that are not a note (not a property list,
// or not a dictionary) give empty values; `problem` then says why.
std::string renderPreview(const std::string& templateText, const char* data, size_t size,
                          std::string* problem = nullptr);

} // namespace quillary_preview
#endif
