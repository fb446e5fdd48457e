// Formatting and reading back of use variables and queue fields through pictures.
#include "ui/src/value_format.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/text.h"
#include "runtime/packed_field.h"
#include "runtime/picture.h"

namespace dt::ui::detail {

namespace {

// How a text use variable holds its text.
TextLayout LayoutOf(UseType type) {
    return type == UseType::CString ? TextLayout::Terminated : TextLayout::Padded;
}

bool IsText(UseType t) {
    return t == UseType::String || t == UseType::CString;
}

// Stores v, rounded, in an integer variable of type T; false when v itself lies outside
// T's range (so 255.4 does not fit a BYTE although it rounds to 255).
template <class T>
bool StoreRounded(void* p, double v) {
    if (!std::isfinite(v) || v < static_cast<double>(std::numeric_limits<T>::min()) ||
        v > static_cast<double>(std::numeric_limits<T>::max()))
        return false;
    StoreField<T>(p, static_cast<T>(std::round(v)));
    return true;
}

std::string PlainNumber(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace

double NumberOf(UseType type, const void* p, std::size_t size) {
    switch (type) {
        case UseType::Byte:
            return LoadField<BYTE>(p);
        case UseType::Short:
            return LoadField<SHORT>(p);
        case UseType::UShort:
            return LoadField<USHORT>(p);
        case UseType::Long:
            return LoadField<LONG>(p);
        case UseType::ULong:
            return LoadField<ULONG>(p);
        case UseType::Int64:
            return static_cast<double>(LoadField<INT64>(p));
        case UseType::Real:
            return LoadField<REAL>(p);
        case UseType::Date:
            return LoadField<DATE>(p).ToStandard();
        case UseType::Time:
            return LoadField<TIME>(p).ToStandard();
        case UseType::String:
        case UseType::CString: {
            std::string_view t = Clip(TextField(LayoutOf(type), p, size));
            double v = 0;
            auto r = std::from_chars(t.data(), t.data() + t.size(), v);
            return r.ec == std::errc() ? v : 0;
        }
        case UseType::None:
            break;
    }
    return 0;
}

std::string FormatValue(UseType type, const void* p, std::size_t size, std::string_view picture) {
    if (!p || type == UseType::None) return {};
    if (IsText(type)) {
        std::string_view t = TextField(LayoutOf(type), p, size);
        if (picture.empty()) return std::string(Clip(t));
        PictureInfo info = DescribePicture(picture);
        // Controls show text without the blanks that pad it to the picture's width.
        if (info.kind == PictureKind::Text || info.kind == PictureKind::Unknown)
            return std::string(Clip(Format(t, picture)));
        return Format(t, picture);
    }
    double v = NumberOf(type, p, size);
    if (picture.empty()) return PlainNumber(v);
    // Numbers are right-aligned in their picture's width; controls align them themselves.
    std::string out = Format(v, picture);
    std::size_t b = out.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : out.substr(b);
}

bool ParseValue(std::string_view text, std::string_view picture, UseType type, void* p, std::size_t size) {
    if (!p || type == UseType::None) return false;
    if (IsText(type)) {
        std::string s;
        if (picture.empty()) {
            s = std::string(text);
        } else if (!TryDeformat(text, picture, s)) {
            return false;
        }
        // A CSTRING without room for its NUL holds nothing.
        if (type == UseType::CString && size == 0) return false;
        StoreTextField(LayoutOf(type), p, size, s);
        return true;
    }
    double v = 0;
    if (picture.empty()) {
        std::string_view t = ClipBoth(text);
        if (t.empty()) {
            v = 0;
        } else {
            auto r = std::from_chars(t.data(), t.data() + t.size(), v);
            if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
        }
    } else if (!TryDeformat(text, picture, v)) {
        return false;
    }
    auto fits = [&](double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; };
    double r = std::round(v);
    switch (type) {
        case UseType::Byte:
            return StoreRounded<BYTE>(p, v);
        case UseType::Short:
            return StoreRounded<SHORT>(p, v);
        case UseType::UShort:
            return StoreRounded<USHORT>(p, v);
        case UseType::Long:
            return StoreRounded<LONG>(p, v);
        case UseType::ULong:
            return StoreRounded<ULONG>(p, v);
        case UseType::Int64:
            // Below 2^63 in both directions, as a double can say it.
            if (!fits(-9.2e18, 9.2e18)) return false;
            StoreField<INT64>(p, static_cast<INT64>(r));
            return true;
        case UseType::Real:
            if (!std::isfinite(v)) return false;
            StoreField<REAL>(p, v);
            return true;
        case UseType::Date:
            if (!fits(0, std::numeric_limits<LONG>::max())) return false;
            StoreField<DATE>(p, DATE::FromStandard(static_cast<LONG>(r)));
            return true;
        case UseType::Time:
            if (!fits(0, std::numeric_limits<LONG>::max())) return false;
            StoreField<TIME>(p, TIME::FromStandard(static_cast<LONG>(r)));
            return true;
        default:
            return false;
    }
}

}  // namespace dt::ui::detail
