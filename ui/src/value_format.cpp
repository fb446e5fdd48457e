// Formatting and reading back of use variables and queue fields through pictures.
#include "ui/src/value_format.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/picture.h"

namespace dt::ui::detail {

namespace {

template <class T>
T Load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
void Store(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

std::string_view TextOf(UseType type, const void* p, std::size_t size) {
    const char* c = static_cast<const char*>(p);
    if (type == UseType::CString) return std::string_view(c, ::strnlen(c, size));
    return std::string_view(c, size);
}

bool IsText(UseType t) {
    return t == UseType::String || t == UseType::CString;
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
            return Load<BYTE>(p);
        case UseType::Short:
            return Load<SHORT>(p);
        case UseType::UShort:
            return Load<USHORT>(p);
        case UseType::Long:
            return Load<LONG>(p);
        case UseType::ULong:
            return Load<ULONG>(p);
        case UseType::Int64:
            return static_cast<double>(Load<INT64>(p));
        case UseType::Real:
            return Load<REAL>(p);
        case UseType::Date:
            return Load<DATE>(p).ToStandard();
        case UseType::Time:
            return Load<TIME>(p).ToStandard();
        case UseType::String:
        case UseType::CString: {
            std::string_view t = Clip(TextOf(type, p, size));
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
        std::string_view t = TextOf(type, p, size);
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
        if (type == UseType::String) {
            std::size_t n = Utf8CutLength(s, size);
            std::memcpy(p, s.data(), n);
            std::memset(static_cast<char*>(p) + n, ' ', size - n);
        } else {
            if (size == 0) return false;
            std::size_t n = Utf8CutLength(s, size - 1);
            std::memcpy(p, s.data(), n);
            std::memset(static_cast<char*>(p) + n, 0, size - n);
        }
        return true;
    }
    double v = 0;
    if (picture.empty()) {
        std::string_view t = Clip(text);
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
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
            if (!fits(0, 255)) return false;
            Store<BYTE>(p, static_cast<BYTE>(r));
            return true;
        case UseType::Short:
            if (!fits(-32768, 32767)) return false;
            Store<SHORT>(p, static_cast<SHORT>(r));
            return true;
        case UseType::UShort:
            if (!fits(0, 65535)) return false;
            Store<USHORT>(p, static_cast<USHORT>(r));
            return true;
        case UseType::Long:
            if (!fits(std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max())) return false;
            Store<LONG>(p, static_cast<LONG>(r));
            return true;
        case UseType::ULong:
            if (!fits(0, std::numeric_limits<ULONG>::max())) return false;
            Store<ULONG>(p, static_cast<ULONG>(r));
            return true;
        case UseType::Int64:
            // Below 2^63 in both directions, as a double can say it.
            if (!fits(-9.2e18, 9.2e18)) return false;
            Store<INT64>(p, static_cast<INT64>(r));
            return true;
        case UseType::Real:
            if (!std::isfinite(v)) return false;
            Store<REAL>(p, v);
            return true;
        case UseType::Date:
            if (!fits(0, std::numeric_limits<LONG>::max())) return false;
            Store<DATE>(p, DATE::FromStandard(static_cast<LONG>(r)));
            return true;
        case UseType::Time:
            if (!fits(0, std::numeric_limits<LONG>::max())) return false;
            Store<TIME>(p, TIME::FromStandard(static_cast<LONG>(r)));
            return true;
        default:
            return false;
    }
}

}  // namespace dt::ui::detail
