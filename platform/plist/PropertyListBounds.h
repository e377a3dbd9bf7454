#pragma once

// Plain C++ without Qt: the preview plug-in checks its input with the same
// function as the application.

#include <cstddef>
#include <string>

namespace platform {

// Containers nested deeper than this are refused: no note, setting or peer
// file comes near it, and the property-list library follows nesting by
// recursion both when it parses and when it frees.
constexpr int kPropertyListMaxDepth = 256;
// Larger input is refused, and so is a binary list whose shared objects
// would unfold to more values or bytes than this.
constexpr std::size_t kPropertyListMaxBytes = 64u * 1024 * 1024;
constexpr std::size_t kPropertyListMaxValues = 1u << 20;

// Checks, without recursion and in time bounded by the input, that a binary
// or XML property list stays within the bounds above, so that the library
// may be given it. False (with a short reason in `problem`) for input that
// exceeds them or whose structure cannot be followed. Input that is not a
// property list at all may pass: the parser refuses it.
bool propertyListWithinBounds(const char* data, std::size_t size, std::string* problem = nullptr);

} // namespace platform
