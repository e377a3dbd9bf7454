// Feeds arbitrary bytes to the preview generator as a note file: whatever
// they hold, no markup may come out of the note's text.
#include "quicklook/QuillaryQuickLook.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string problem;
    const std::string page = quillary_preview::renderPreview(
        "[{CLASS}]{TEXT}", reinterpret_cast<const char*>(data), size, &problem);
    if (page.size() < 2 || page[0] != '[')
        __builtin_trap();
    const std::string::size_type close = page.find(']');
    if (close == std::string::npos)
        __builtin_trap();
    const std::string cls = page.substr(1, close - 1);
    if (cls != "" && cls != "archived")
        __builtin_trap();
    if (page.find_first_of("<>\"'", close) != std::string::npos)
        __builtin_trap();
    return 0;
}
