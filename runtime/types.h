// Value types of records and queues: fixed-width integers, packed DATE and TIME,
// blank-padded STRING<n> and NUL-terminated CSTRING<n>. All are trivially copyable
// and byte-aligned so that records made of them have exactly their declared sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "runtime/packed_field.h"

namespace dt {

using BYTE = std::uint8_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
// 64 bits, signed: file sizes of 4 GiB and more (a BIGINT column).
using INT64 = std::int64_t;
using SREAL = float;
using REAL = double;

// Packed calendar date: day (lowest byte), month, 16-bit year (highest). Zero is "no date".
#pragma pack(push, 1)
// A plain aggregate (no member initialisers) so that it can sit in the unnamed struct of
// a GROUP laid over another field; write DATE{} for a zero date.
struct DATE {
    BYTE day;
    BYTE month;
    USHORT year;

    // year * 65536 + month * 256 + day
    ULONG Value() const { return ULONG(year) << 16 | ULONG(month) << 8 | day; }
    static DATE FromValue(ULONG v) { return DATE{BYTE(v), BYTE(v >> 8), USHORT(v >> 16)}; }
    bool IsZero() const { return Value() == 0; }
    // Standard day number of this date: 0 when the combination is no valid date;
    // a year of 10000 or more reads as 31 December 9999.
    LONG ToStandard() const;
    // Packs a standard date; an invalid day number packs as zero.
    static DATE FromStandard(LONG day_number);
    friend bool operator==(const DATE&, const DATE&) = default;
};

// Packed time of day: hundredths (lowest byte), seconds, minutes, hours (highest).
// A plain aggregate like DATE; write TIME{} for a zero time.
struct TIME {
    BYTE hundredths;
    BYTE seconds;
    BYTE minutes;
    BYTE hours;

    ULONG Value() const {
        return ULONG(hours) << 24 | ULONG(minutes) << 16 | ULONG(seconds) << 8 | hundredths;
    }
    static TIME FromValue(ULONG v) { return TIME{BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }
    bool IsZero() const { return Value() == 0; }
    // Standard time (hundredths since midnight plus one); 0 when the parts are all zero,
    // -1 when a part is out of range.
    LONG ToStandard() const;
    // Packs a standard time; a value outside 1 .. 8,640,000 packs as zero.
    static TIME FromStandard(LONG t);
    friend bool operator==(const TIME&, const TIME&) = default;
};

// n bytes padded with blanks.
template <std::size_t N>
struct STRING {
    char data[N];

    STRING() { std::memset(data, ' ', N); }
    STRING(std::string_view s) { Assign(s); }  // NOLINT: assignment from text is the point
    STRING& operator=(std::string_view s) {
        Assign(s);
        return *this;
    }
    // Copies at most N bytes (cut at a character boundary) and pads with blanks.
    void Assign(std::string_view s) { StoreTextField(TextLayout::Padded, data, N, s); }
    void Clear() { std::memset(data, ' ', N); }
    static constexpr std::size_t size() { return N; }
    std::string_view View() const { return std::string_view(data, N); }
    std::string_view Clip() const { return dt::Clip(View()); }
    std::string Str() const { return std::string(Clip()); }
    bool IsBlank() const { return Clip().empty(); }
};

// n bytes holding at most n - 1 bytes of text and a NUL.
template <std::size_t N>
struct CSTRING {
    static_assert(N >= 1);
    char data[N];

    CSTRING() { std::memset(data, 0, N); }
    CSTRING(std::string_view s) { Assign(s); }  // NOLINT
    CSTRING& operator=(std::string_view s) {
        Assign(s);
        return *this;
    }
    // Copies at most N - 1 bytes (cut at a character boundary); the rest is zeroed so that
    // equal texts give equal records.
    void Assign(std::string_view s) { StoreTextField(TextLayout::Terminated, data, N, s); }
    void Clear() { std::memset(data, 0, N); }
    static constexpr std::size_t size() { return N; }
    // The text up to the NUL (or all N bytes when a raw copy left no NUL).
    std::string_view View() const { return TextField(TextLayout::Terminated, data, N); }
    std::string_view Clip() const { return dt::Clip(View()); }
    std::string Str() const { return std::string(View()); }
    bool IsBlank() const { return Clip().empty(); }
};
#pragma pack(pop)

static_assert(sizeof(DATE) == 4 && sizeof(TIME) == 4);
static_assert(sizeof(STRING<8>) == 8 && sizeof(CSTRING<41>) == 41);

}  // namespace dt
