#include "data/file.h"

#include <cstring>

#include "platform/text.h"

namespace dt {

Field Field::Make(std::string_view label, FieldType type, std::size_t offset, std::size_t size) {
    Field f;
    f.label = label;
    f.type = type;
    f.offset = static_cast<std::uint32_t>(offset);
    f.size = static_cast<std::uint32_t>(size);
    return f;
}

Field Field::Decimal(std::string_view l, std::size_t off, int digits, int places) {
    Field f = Make(l, FT_DECIMAL, off, static_cast<std::size_t>(digits / 2 + 1));
    f.digits = static_cast<std::uint8_t>(digits);
    f.places = static_cast<std::uint8_t>(places);
    return f;
}

Field Field::Pdecimal(std::string_view l, std::size_t off, int digits, int places) {
    Field f = Decimal(l, off, digits, places);
    f.type = FT_PDECIMAL;
    return f;
}

Key::Key(File& f, std::string_view l, std::initializer_list<std::string_view> comps, std::uint32_t fl,
         std::string_view n)
    : file(f), label(l), name(n), flags(fl) {
    for (std::string_view c : comps) {
        KeyComponent kc;
        if (!c.empty() && (c[0] == '-' || c[0] == '+')) {
            kc.descending = c[0] == '-';
            c.remove_prefix(1);
        }
        kc.field = f.FieldIndex(c);
        if (kc.field < 0) {
            valid = false;
            f.bad_declaration = true;
        }
        components.push_back(kc);
    }
    f.keys.push_back(this);
    number = static_cast<int>(f.keys.size());
}

std::string Key::IndexName() const {
    if (!name.empty()) return name;
    std::size_t colon = label.rfind(':');
    return colon == std::string::npos ? label : label.substr(colon + 1);
}

bool DriverRegistration::SupportsOperation(int op) const {
    if (operations == nullptr) return false;
    for (int i = 1; i <= operations[0]; ++i)
        if (operations[i] == op) return true;
    return false;
}

bool DriverRegistration::SupportsType(int type) const {
    if (types == nullptr) return false;
    for (int i = 1; i <= types[0]; ++i)
        if (types[i] == type) return true;
    return false;
}

File::File(std::string_view l, const DriverRegistration& d, std::string_view ds, std::string_view n,
           std::uint8_t fl, void* rec, std::size_t len, std::vector<Field> fs, std::vector<Blob> bs)
    : label(l),
      driver(&d),
      driver_string(ds),
      name(n),
      flags(fl),
      record(rec),
      record_length(len),
      fields(std::move(fs)),
      blobs(std::move(bs)) {
    for (Field& f : fields) {
        if (!f.over_label.empty()) {
            f.over = FieldIndex(f.over_label);
            if (f.over < 0) bad_declaration = true;
        }
        if (!f.group_label.empty()) {
            f.group = FieldIndex(f.group_label);
            if (f.group < 0) bad_declaration = true;
        }
        if (f.offset + f.size > record_length) bad_declaration = true;
    }
}

File::~File() {
    // The driver state is dropped here; drivers release their handles in its destructor,
    // which never throws.
    driver_slot.reset();
}

std::string File::Owner() const {
    if (owner_var_ == nullptr) return owner_text_;
    return std::string(Clip(std::string_view(owner_var_, ::strnlen(owner_var_, owner_var_size_))));
}

int File::FieldIndex(std::string_view l) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (EqualNoCase(fields[i].label, l)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace dt
