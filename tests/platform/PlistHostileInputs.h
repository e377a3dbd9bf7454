#pragma once

// Property lists built byte by byte, for shapes no writer makes: nesting far
// beyond any note, references that lead back to an enclosing object, shared
// objects that unfold exponentially.

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace plist_inputs {

// <plist> with `depth` nested arrays.
inline QByteArray deepXml(int depth, bool closed = true)
{
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    out.reserve(out.size() + depth * 15 + 8);
    for (int i = 0; i < depth; ++i)
        out += "<array>";
    if (closed)
        for (int i = 0; i < depth; ++i)
            out += "</array>";
    out += "</plist>";
    return out;
}

inline void appendBigEndian(QByteArray* out, std::uint64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        out->append(char((value >> (8 * i)) & 0xFF));
}

inline int widthFor(std::uint64_t value)
{
    return value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFFFFu ? 4 : 8;
}

// A binary property list whose objects are all arrays: objects[i] lists the
// indices object i refers to. Object 0 is the top.
inline QByteArray binaryArrays(const std::vector<std::vector<std::uint32_t>>& objects)
{
    const int refSize = widthFor(objects.size());
    QByteArray out = "bplist00";
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects.size());
    for (const auto& refs : objects) {
        offsets.push_back(std::uint64_t(out.size()));
        if (refs.size() < 15) {
            out.append(char(0xA0 | refs.size()));
        } else {
            out.append(char(0xAF));
            out.append(char(0x13));
            appendBigEndian(&out, refs.size(), 8);
        }
        for (std::uint32_t ref : refs)
            appendBigEndian(&out, ref, refSize);
    }
    const std::uint64_t table = std::uint64_t(out.size());
    const int offsetSize = widthFor(table);
    for (std::uint64_t offset : offsets)
        appendBigEndian(&out, offset, offsetSize);
    out.append(QByteArray(6, '\0'));
    out.append(char(offsetSize));
    out.append(char(refSize));
    appendBigEndian(&out, objects.size(), 8);
    appendBigEndian(&out, 0, 8);
    appendBigEndian(&out, table, 8);
    return out;
}

// `depth` arrays, each holding the next.
inline QByteArray deepBinary(int depth)
{
    std::vector<std::vector<std::uint32_t>> objects(static_cast<std::size_t>(depth));
    for (int i = 0; i + 1 < depth; ++i)
        objects[std::size_t(i)] = {std::uint32_t(i + 1)};
    return binaryArrays(objects);
}

// Arrays that hold each other in a ring of `length` (1: an array holding
// itself).
inline QByteArray cyclicBinary(int length)
{
    std::vector<std::vector<std::uint32_t>> objects(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i)
        objects[std::size_t(i)] = {std::uint32_t((i + 1) % length)};
    return binaryArrays(objects);
}

// `levels` arrays, each holding the next twice: a few hundred bytes that
// unfold to 2^levels values.
inline QByteArray unfoldingBinary(int levels)
{
    std::vector<std::vector<std::uint32_t>> objects(static_cast<std::size_t>(levels));
    for (int i = 0; i + 1 < levels; ++i)
        objects[std::size_t(i)] = {std::uint32_t(i + 1), std::uint32_t(i + 1)};
    return binaryArrays(objects);
}

} // namespace plist_inputs
