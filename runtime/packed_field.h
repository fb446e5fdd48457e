// Typed fields of packed records and queue entries. Records are packed to fixed byte
// layouts, so a field sits at any offset: every access copies its bytes, never reads
// through a cast pointer (a misaligned load of another type than the buffer's).
//
// Who interprets the field's type code (the file driver's field types, the window layer's
// use types) maps it to the C++ type or text layout here; this is the one place that
// knows how the bytes of each are laid out.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

namespace dt {

// The value of type T (BYTE … INT64, SREAL, REAL, DATE, TIME) stored at p.
template <class T>
T LoadField(const void* p) {
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Stores v at p.
template <class T>
void StoreField(void* p, const T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(p, &v, sizeof v);
}

// Stores the integer v at p as an integer of type T; false, and p unchanged, when v is
// outside T's range (never a value cut to T's width).
template <class T>
bool StoreIntegerField(void* p, long long v) {
    static_assert(std::is_integral_v<T> && sizeof(T) <= sizeof(long long));
    if constexpr (std::is_unsigned_v<T>) {
        if (v < 0 || static_cast<unsigned long long>(v) > std::numeric_limits<T>::max()) return false;
    } else {
        if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return false;
    }
    StoreField(p, static_cast<T>(v));
    return true;
}

// How a text field of `size` bytes holds its text.
enum class TextLayout {
    Padded,      // STRING: all `size` bytes, padded with blanks (they are part of the view)
    Terminated,  // CSTRING: up to the first NUL, or all `size` bytes when a raw copy left none
    Counted,     // PSTRING: a length byte, then the text: at most size - 1 bytes, and at most 255
};

// The text of the text field of `size` bytes at p, as a view into the record.
inline std::string_view TextField(TextLayout layout, const void* p, std::size_t size) {
    const char* c = static_cast<const char*>(p);
    switch (layout) {
        case TextLayout::Padded:
            break;
        case TextLayout::Terminated:
            return std::string_view(c, ::strnlen(c, size));
        case TextLayout::Counted: {
            // A field without room for its length byte holds no text (and has no byte to read).
            if (size == 0) return {};
            const std::size_t length = static_cast<unsigned char>(c[0]);
            return std::string_view(c + 1, length < size - 1 ? length : size - 1);
        }
    }
    return std::string_view(c, size);
}

// Stores text in the text field of `size` bytes at p: as much as fits (size bytes; size - 1
// for Terminated and Counted), cut at a UTF-8 character boundary, the rest of the field
// filled with blanks (Padded) or NULs. Returns the number of text bytes stored. A text
// that must be cut at an exact byte count (binary data) is cut by the caller first.
std::size_t StoreTextField(TextLayout layout, void* p, std::size_t size, std::string_view text);

}  // namespace dt
