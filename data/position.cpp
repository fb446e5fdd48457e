#include "data/position.h"

#include <cstdio>
#include <cstring>

namespace dt {
namespace {

void PutWord(std::string& out, std::uint32_t v) {
    char b[4];
    std::memcpy(b, &v, 4);
    out.append(b, 4);
}

std::uint32_t WordAt(std::string_view s, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

std::string KeyName(const Key& k) {
    return k.label.empty() ? k.name : k.label;
}

std::string SizesLine(std::uint32_t key_size, std::uint32_t key_number) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "KeySize: %i KeyNumber: %i", static_cast<int>(key_size),
                  static_cast<int>(key_number));
    return buf;
}

// The same component fields in the same order: the values of one fit the other.
bool SameComponents(const Key& a, const Key& b) {
    if (a.components.size() != b.components.size()) return false;
    for (std::size_t i = 0; i < a.components.size(); ++i)
        if (a.components[i].field != b.components[i].field) return false;
    return true;
}

}  // namespace

std::uint32_t KeySize(const File& f, const Key& k) {
    std::uint32_t n = 0;
    for (const KeyComponent& c : k.components)
        if (c.field >= 0) n += f.fields[static_cast<std::size_t>(c.field)].size;
    return n;
}

std::string MakePosition(const File& f, const Key* k, const char* record) {
    std::string out;
    PutWord(out, static_cast<std::uint32_t>(f.record_length));
    PutWord(out, k != nullptr ? KeySize(f, *k) : 0);
    PutWord(out, k != nullptr ? static_cast<std::uint32_t>(k->number) : 0);
    if (k == nullptr) {
        out.append(record, f.record_length);
        return out;
    }
    for (const KeyComponent& c : k->components) {
        if (c.field < 0) continue;
        const Field& fd = f.fields[static_cast<std::size_t>(c.field)];
        out.append(record + fd.offset, fd.size);
    }
    return out;
}

PositionHeader ReadPositionHeader(std::string_view position) {
    PositionHeader h;
    if (position.size() < kPositionHeaderSize) return h;
    h.file_size = WordAt(position, 0);
    h.key_size = WordAt(position, 4);
    h.key_number = WordAt(position, 8);
    return h;
}

PositionRead ReadPosition(const File& f, const Key* k, std::string_view position, std::vector<char>& record) {
    PositionRead r;
    const PositionHeader h = ReadPositionHeader(position);
    // A refusal shows what the reset needs beside what the buffer holds, then the reason.
    auto refuse = [&](std::string reason) {
        r.trace.push_back("Reset Buffer:");
        r.trace.push_back("FileSize: " + std::to_string(f.record_length));
        r.trace.push_back(k != nullptr ? SizesLine(KeySize(f, *k), static_cast<std::uint32_t>(k->number))
                                       : SizesLine(0, 0));
        r.trace.push_back("Position Buffer:");
        r.trace.push_back("FileSize: " + std::to_string(h.file_size));
        r.trace.push_back(SizesLine(h.key_size, h.key_number));
        if (!reason.empty()) r.trace.push_back(std::move(reason));
        r.rc = 38;
        r.from_key = nullptr;
        return r;
    };
    const std::string file = f.ExternalName();
    if (position.size() < kPositionHeaderSize) return refuse("File Size(2) wrong for file " + file);
    // Taken on another file (or another declaration of this one).
    if (h.file_size != f.record_length) return refuse("File Size wrong for file " + file);
    const bool of_file = h.key_number == 0 && h.key_size == 0;
    const std::size_t values = of_file ? h.file_size : h.key_size;
    // The buffer was cut or padded after it was made.
    if (position.size() != kPositionHeaderSize + values) return refuse("File Size(2) wrong for file " + file);
    if (h.key_number > f.keys.size() || (!of_file && h.key_number == 0))
        return refuse("File Size(2) wrong for file " + file);
    const char* data = position.data() + kPositionHeaderSize;
    if (of_file) {
        record.assign(data, data + h.file_size);
        return r;
    }
    const Key& from = *f.keys[h.key_number - 1];
    const Key& to = k != nullptr ? *k : from;
    if (&from != &to)
        r.trace.push_back("Reseting on key " + KeyName(to) + " using Position from key " + KeyName(from));
    if (h.key_size != KeySize(f, to)) return refuse("Size not equal for key " + KeyName(to));
    if (!SameComponents(from, to)) return refuse({});
    r.from_key = &from;
    std::size_t at = 0;
    for (const KeyComponent& c : from.components) {
        if (c.field < 0) continue;
        const Field& fd = f.fields[static_cast<std::size_t>(c.field)];
        if (record.size() >= fd.offset + fd.size) std::memcpy(record.data() + fd.offset, data + at, fd.size);
        at += fd.size;
    }
    return r;
}

}  // namespace dt
