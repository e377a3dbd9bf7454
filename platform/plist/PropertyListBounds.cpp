#include "platform/plist/PropertyListBounds.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

namespace {

bool refuse(std::string* problem, const char* reason)
{
    if (problem)
        *problem = reason;
    return false;
}

const char* const kTooDeep = "The property list is nested too deeply.";

// --- binary ----------------------------------------------------------------

std::uint64_t readBigEndian(const unsigned char* p, unsigned size)
{
    std::uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Follows the object references from the top object with a stack of its own.
// Every reference is followed again each time it is met, as the parser does,
// so shared objects count as often as they unfold, and a reference back to
// an enclosing object only ever deepens the walk until it is refused.
bool binaryWithinBounds(const unsigned char* bytes, std::size_t size, std::string* problem)
{
    constexpr std::size_t kHeader = 8, kTrailer = 32;
    if (size < kHeader + kTrailer)
        return true; // too short to be one: the parser refuses it
    const unsigned char* trailer = bytes + size - kTrailer;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const std::uint64_t objects = readBigEndian(trailer + 8, 8);
    const std::uint64_t top = readBigEndian(trailer + 16, 8);
    const std::uint64_t table = readBigEndian(trailer + 24, 8);
    const std::uint64_t body = size - kTrailer;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objects == 0 || top >= objects ||
        table < kHeader || table > body || objects > (body - table) / offsetSize)
        return refuse(problem, "The property list's object table is damaged.");

    auto objectOffset = [&](std::uint64_t index) {
        return readBigEndian(bytes + table + index * offsetSize, offsetSize);
    };
    // The count in a marker's low half, or in the integer that follows it.
    auto countAt = [&](std::uint64_t offset, std::uint64_t* count, std::uint64_t* start) {
        *count = bytes[offset] & 0x0F;
        *start = offset + 1;
        if (*count != 0x0F)
            return true;
        if (*start >= body || (bytes[*start] >> 4) != 0x1 || (bytes[*start] & 0x0F) > 3)
            return false;
        const unsigned width = 1u << (bytes[*start] & 0x0F);
        if (*start + 1 + width > body)
            return false;
        *count = readBigEndian(bytes + *start + 1, width);
        *start += 1 + width;
        return true;
    };

    std::vector<std::pair<std::uint64_t, int>> stack{{top, 0}};
    std::size_t values = 0;
    std::uint64_t payload = 0;
    while (!stack.empty()) {
        const auto [index, depth] = stack.back();
        stack.pop_back();
        ++values;
        if (depth > kPropertyListMaxDepth)
            return refuse(problem, kTooDeep);
        const std::uint64_t offset = objectOffset(index);
        if (offset < kHeader || offset >= body)
            return refuse(problem, "The property list's object table is damaged.");
        const unsigned type = bytes[offset] >> 4;
        std::uint64_t count = 0, start = 0;
        switch (type) {
        case 0x4: // data
        case 0x5: // ASCII string
        case 0x6: // UTF-16 string
            if (!countAt(offset, &count, &start) || count > body)
                return refuse(problem, "The property list's object table is damaged.");
            payload += type == 0x6 ? 2 * count : count;
            if (payload > kPropertyListMaxBytes)
                return refuse(problem, "The property list unfolds to too much data.");
            break;
        case 0xA:   // array
        case 0xC:   // set
        case 0xD: { // dictionary: keys, then values
            if (!countAt(offset, &count, &start) || count > body)
                return refuse(problem, "The property list's object table is damaged.");
            const std::uint64_t refs = type == 0xD ? 2 * count : count;
            if (start > body || refs > (body - start) / refSize)
                return refuse(problem, "The property list's object table is damaged.");
            if (refs > kPropertyListMaxValues - values - stack.size())
                return refuse(problem, "The property list unfolds to too many values.");
            for (std::uint64_t r = 0; r < refs; ++r) {
                const std::uint64_t child = readBigEndian(bytes + start + r * refSize, refSize);
                if (child >= objects)
                    return refuse(problem, "The property list's object table is damaged.");
                stack.emplace_back(child, depth + 1);
            }
            break;
        }
        default:
            break;
        }
    }
    return true;
}

// --- XML -------------------------------------------------------------------

bool startsWith(std::string_view text, std::size_t at, std::string_view prefix)
{
    return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return true;
}

// 'a' for array, 'd' for dict, 'p' for plist, 0 for any other element. A
// name that only differs from one of them in case, or merely begins with
// one, is refused ('?'): a parser might take it for the container.
char containerKind(std::string_view name)
{
    static constexpr std::pair<std::string_view, char> kinds[] = {
        {"array", 'a'}, {"dict", 'd'}, {"plist", 'p'}};
    for (const auto& [word, kind] : kinds) {
        if (name == word)
            return kind;
        if (name.size() >= word.size() && equalsIgnoringCase(name.substr(0, word.size()), word))
            return '?';
    }
    return 0;
}

// Follows the markup only as far as nesting goes: each "<" outside comments,
// character data and declarations starts a tag, containers are counted as
// they open and close, and anything that could make this count differ from
// a parser's (a bracket inside a tag, a close that does not match) refuses
// the input rather than guess.
bool xmlWithinBounds(std::string_view text, std::string* problem)
{
    const char* const kDamaged = "The property list's markup cannot be followed.";
    std::vector<char> open;
    std::size_t i = 0;
    for (;;) {
        i = text.find('<', i);
        if (i == std::string_view::npos)
            return true;
        auto skipPast = [&](std::string_view end) {
            const std::size_t at = text.find(end, i);
            if (at == std::string_view::npos)
                return false;
            i = at + end.size();
            return true;
        };
        if (startsWith(text, i, "<!--")) {
            i += 4;
            if (!skipPast("-->"))
                return refuse(problem, kDamaged);
            continue;
        }
        if (startsWith(text, i, "<![CDATA[")) {
            i += 9;
            if (!skipPast("]]>"))
                return refuse(problem, kDamaged);
            continue;
        }
        if (startsWith(text, i, "<?")) {
            i += 2;
            if (!skipPast("?>"))
                return refuse(problem, kDamaged);
            continue;
        }
        if (startsWith(text, i, "<!")) {
            // A document type declaration; an internal subset has no place in
            // a property list.
            const std::size_t end = text.find('>', i);
            if (end == std::string_view::npos ||
                text.substr(i + 2, end - i - 2).find_first_of("[<") != std::string_view::npos)
                return refuse(problem, kDamaged);
            i = end + 1;
            continue;
        }
        const bool closing = startsWith(text, i, "</");
        const std::size_t nameStart = i + (closing ? 2 : 1);
        std::size_t j = nameStart;
        while (j < text.size() && !std::strchr(" \t\r\n/>", text[j]) && text[j] != '\0')
            ++j;
        const std::string_view name = text.substr(nameStart, j - nameStart);
        if (name.empty() || name.find('<') != std::string_view::npos)
            return refuse(problem, kDamaged);
        // The rest of the tag, with quoted values that hold no brackets.
        while (j < text.size() && text[j] != '>') {
            if (text[j] == '<')
                return refuse(problem, kDamaged);
            if (text[j] == '"' || text[j] == '\'') {
                const std::size_t close = text.find(text[j], j + 1);
                if (close == std::string_view::npos ||
                    text.substr(j + 1, close - j - 1).find_first_of("<>") != std::string_view::npos)
                    return refuse(problem, kDamaged);
                j = close;
            }
            ++j;
        }
        if (j >= text.size())
            return refuse(problem, kDamaged);
        const bool empty = !closing && text[j - 1] == '/';
        const char kind = containerKind(name);
        if (kind == '?')
            return refuse(problem, kDamaged);
        if (kind != 0 && closing) {
            if (open.empty() || open.back() != kind)
                return refuse(problem, kDamaged);
            open.pop_back();
        } else if (kind != 0 && !empty) {
            open.push_back(kind);
            // The outermost <plist> is not a value of its own.
            if (open.size() > std::size_t(kPropertyListMaxDepth) + 1)
                return refuse(problem, kTooDeep);
        }
        i = j + 1;
    }
}

} // namespace

bool propertyListWithinBounds(const char* data, std::size_t size, std::string* problem)
{
    if (size > kPropertyListMaxBytes)
        return refuse(problem, "The property list is too large.");
    if (!data || size == 0)
        return true;
    // Whatever the version, the library reads anything so marked as binary.
    if (size >= 6 && std::memcmp(data, "bplist", 6) == 0)
        return binaryWithinBounds(reinterpret_cast<const unsigned char*>(data), size, problem);
    return xmlWithinBounds(std::string_view(data, size), problem);
}

} // namespace platform
