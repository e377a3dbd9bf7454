// A small plug-in model shared by the preview generator and the programs that
// load it: reference-counted 16-byte identifiers, a per-factory instance
// registry and the preview request. Plain C so that the generator, which is
// loaded with dlopen, needs nothing else.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QL_EXPORT __attribute__((visibility("default")))

typedef struct QLUUIDBytes
{
    uint8_t byte[16];
} QLUUIDBytes;

typedef struct QLUUID* QLUUIDRef;

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (either case); null when the
// text is not such an identifier. The result has a reference count of 1.
QL_EXPORT QLUUIDRef QLUUIDCreateFromString(const char* text);
QL_EXPORT QLUUIDRef QLUUIDRetain(QLUUIDRef uuid);
QL_EXPORT void QLUUIDRelease(QLUUIDRef uuid);
QL_EXPORT QLUUIDBytes QLUUIDGetBytes(QLUUIDRef uuid);
QL_EXPORT int QLUUIDBytesEqual(QLUUIDBytes a, QLUUIDBytes b);
// Writes the upper-case text form (37 bytes with the terminator).
QL_EXPORT void QLUUIDGetString(QLUUIDRef uuid, char out[37]);

// Instance registry: a loader may only unload a plug-in once no instance of
// any of its factories is left.
QL_EXPORT void QLPlugInAddInstanceForFactory(QLUUIDRef factory);
QL_EXPORT void QLPlugInRemoveInstanceForFactory(QLUUIDRef factory);
QL_EXPORT int QLPlugInInstanceCountForFactory(QLUUIDRef factory);

// Result codes in the plug-in model.
#define QL_S_OK 0
#define QL_E_NOINTERFACE ((int32_t)0x80000004)

typedef struct QLPreviewProperties
{
    const char* mimeType;
    const char* textEncodingName;
    int width;
    int height;
} QLPreviewProperties;

typedef struct QLPreviewRequest* QLPreviewRequestRef;

QL_EXPORT QLPreviewRequestRef QLPreviewRequestCreate(const char* generatorBundlePath);
QL_EXPORT void QLPreviewRequestDestroy(QLPreviewRequestRef request);
QL_EXPORT void QLPreviewRequestCancel(QLPreviewRequestRef request);
QL_EXPORT int QLPreviewRequestIsCancelled(QLPreviewRequestRef request);
QL_EXPORT const char* QLPreviewRequestGetGeneratorBundlePath(QLPreviewRequestRef request);
// Copies the bytes, the content type and the properties into the request.
QL_EXPORT void QLPreviewRequestSetDataRepresentation(QLPreviewRequestRef request, const char* data,
                                                     size_t length, const char* contentType,
                                                     const QLPreviewProperties* properties);
// What the generator handed over; null data when it handed nothing.
QL_EXPORT const char* QLPreviewRequestGetData(QLPreviewRequestRef request, size_t* length);
QL_EXPORT const char* QLPreviewRequestGetContentType(QLPreviewRequestRef request);
QL_EXPORT QLPreviewProperties QLPreviewRequestGetProperties(QLPreviewRequestRef request);

// The generator interface, in the order the loaders expect.
typedef struct QLGeneratorInterfaceStruct
{
    void* reserved;
    int32_t (*QueryInterface)(void* instance, QLUUIDBytes iid, void** out);
    uint32_t (*AddRef)(void* instance);
    uint32_t (*Release)(void* instance);
    int32_t (*GenerateThumbnailForURL)(void* instance, void* request, const char* url,
                                       const char* contentType, void* options, double maxWidth,
                                       double maxHeight);
    void (*CancelThumbnailGeneration)(void* instance, void* request);
    int32_t (*GeneratePreviewForURL)(void* instance, QLPreviewRequestRef request, const char* url,
                                     const char* contentType, void* options);
    void (*CancelPreviewGeneration)(void* instance, QLPreviewRequestRef request);
} QLGeneratorInterfaceStruct;

// A factory function: (allocator, type identifier) → instance or null. An
// instance's first field points at its interface table.
typedef void* (*QLPlugInFactoryFunction)(void* allocator, QLUUIDRef type);

#define QL_GENERATOR_TYPE_ID "5E2D9680-5022-40FA-B806-43349622E5B9"
#define QL_GENERATOR_CALLBACKS_INTERFACE_ID "865AF5E0-6D30-4345-951B-D37105754F2D"

#ifdef __cplusplus
}
#endif
