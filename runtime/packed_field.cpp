#include "runtime/packed_field.h"

#include "platform/text.h"

namespace dt {

std::size_t StoreTextField(TextLayout layout, void* p, std::size_t size, std::string_view text) {
    char* c = static_cast<char*>(p);
    if (layout == TextLayout::Padded) {
        const std::size_t n = Utf8CutLength(text, size);
        if (n > 0) std::memcpy(c, text.data(), n);
        std::memset(c + n, ' ', size - n);
        return n;
    }
    // The NUL of a CSTRING or the length byte of a PSTRING takes one byte of the field.
    if (size == 0) return 0;
    const std::size_t room = layout == TextLayout::Counted && size - 1 > 255 ? 255 : size - 1;
    const std::size_t n = Utf8CutLength(text, room);
    if (layout == TextLayout::Counted) {
        c[0] = static_cast<char>(n);
        ++c;
        --size;
    }
    if (n > 0) std::memcpy(c, text.data(), n);
    std::memset(c + n, 0, size - n);
    return n;
}

}  // namespace dt
