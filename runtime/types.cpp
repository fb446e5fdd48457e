#include "runtime/types.h"

namespace dt {

std::size_t Utf8CutLength(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s.size();
    // Walk back over continuation bytes to the lead byte of the sequence that straddles
    // the cut; drop that sequence only when the lead byte announces a longer sequence
    // whose continuation bytes really follow (valid UTF-8). Raw bytes are cut where asked.
    std::size_t lead = max;
    while (lead > 0 && max - lead < 3 && (static_cast<unsigned char>(s[lead]) & 0xC0) == 0x80) --lead;
    if (lead == max) return max;  // the cut falls before a lead byte or ASCII
    const unsigned char c = static_cast<unsigned char>(s[lead]);
    std::size_t len = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (len == 1 || lead + len <= max) return max;
    for (std::size_t i = lead + 1; i < lead + len && i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return max;
    return lead;
}

std::string_view Clip(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') --n;
    return s.substr(0, n);
}

}  // namespace dt
