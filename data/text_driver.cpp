#include "data/text_driver.h"

#include <cerrno>
#include <cstdio>

#include "runtime/packed_field.h"
#include "runtime/types.h"

namespace dt {
namespace {

constexpr std::uint8_t kOperations[] = {
    13,      OP_ADD,  OP_APPEND,      OP_CLOSE,  OP_CREATE,  OP_EMPTY, OP_NAME,
    OP_NEXT, OP_OPEN, OP_RECORDSfile, OP_REMOVE, OP_SETfile, OP_SHARE, OP_BYTES,
};
constexpr std::uint8_t kTypes[] = {2, FT_STRING, FT_CSTRING};

const DriverRegistration kRegistration = {
    "ASCII", "", "DriveTrek", "ASCII text", &TextDriverEntry, 0, DriverLimits{0, 1, 65535, 260},
    0,       0,  0,           kOperations,  kTypes,
};

class TextState final : public DriverState {
  public:
    ~TextState() override { Close(); }
    void Close() {
        if (fp != nullptr) std::fclose(fp);
        fp = nullptr;
    }
    std::FILE* fp = nullptr;
    bool writable = false;
};

// The bytes of the line: the first STRING/CSTRING field, else the whole record.
void LineArea(const File& f, char*& p, std::size_t& n, TextLayout& layout) {
    p = f.Record();
    n = f.record_length;
    layout = TextLayout::Padded;
    for (const Field& fd : f.fields) {
        if (fd.type == FT_STRING || fd.type == FT_CSTRING) {
            p = f.Record() + fd.offset;
            n = fd.size;
            layout = TextLayoutOf(fd.type);
            return;
        }
    }
}

int OpenFile(File& f, TextState& st, int mode) {
    std::string path = f.ExternalName();
    if (path.empty()) return 45;
    if (st.fp != nullptr) return 52;
    st.writable = (mode & 3) != 0;
    st.fp = std::fopen(path.c_str(), st.writable ? "r+b" : "rb");
    if (st.fp == nullptr) return errno == ENOENT ? 2 : 5;
    return 0;
}

}  // namespace

const DriverRegistration& TextDriver() {
    return kRegistration;
}

int TextDriverEntry(int op, File& f, DriverArgs& a) {
    if (!f.driver_slot) {
        if (op == OP_CLOSE || op == OP_DESTROY) return 0;
        f.driver_slot = std::make_unique<TextState>();
    }
    auto& st = static_cast<TextState&>(*f.driver_slot);
    std::string path = f.ExternalName();
    switch (op) {
        case OP_DESTROY:
            f.driver_slot.reset();
            return 0;
        case OP_OPEN:
        case OP_SHARE:
            return OpenFile(f, st, static_cast<int>(a.value));
        case OP_CLOSE:
            st.Close();
            return 0;
        case OP_CREATE: {
            if (!f.Has(FILE_CREATE)) return 54;
            if (path.empty()) return 45;
            std::FILE* fp = std::fopen(path.c_str(), "wb");
            if (fp == nullptr) return 5;
            std::fclose(fp);
            return 0;
        }
        case OP_REMOVE:
            if (st.fp != nullptr) return 63;
            return std::remove(path.c_str()) == 0 ? 0 : (errno == ENOENT ? 2 : 5);
        case OP_EMPTY: {
            if (st.fp == nullptr) return 37;
            if (!st.writable) return 5;
            std::FILE* fp = std::freopen(path.c_str(), "w+b", st.fp);
            st.fp = fp;
            return fp ? 0 : 5;
        }
        case OP_ADD:
        case OP_APPEND: {
            if (st.fp == nullptr) return 37;
            if (!st.writable) return 5;
            char* p;
            std::size_t n;
            TextLayout layout;
            LineArea(f, p, n, layout);
            std::string_view line = TextField(layout, p, n);
            if (layout == TextLayout::Padded) line = Clip(line);
            std::fseek(st.fp, 0, SEEK_END);
            if (std::fwrite(line.data(), 1, line.size(), st.fp) != line.size() ||
                std::fputc('\n', st.fp) == EOF || std::fflush(st.fp) != 0)
                return 5;
            return 0;
        }
        case OP_SETfile:
            if (st.fp == nullptr) return 37;
            std::fseek(st.fp, 0, SEEK_SET);
            return 0;
        case OP_NEXT: {
            if (st.fp == nullptr) return 37;
            std::string line;
            int c;
            bool any = false;
            while ((c = std::fgetc(st.fp)) != EOF) {
                any = true;
                if (c == '\n') break;
                line += static_cast<char>(c);
            }
            if (!any) return 33;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            char* p;
            std::size_t n;
            TextLayout layout;
            LineArea(f, p, n, layout);
            StoreTextField(layout, p, n, line);
            return 0;
        }
        case OP_RECORDSfile: {
            std::FILE* fp = std::fopen(path.c_str(), "rb");
            if (fp == nullptr) return 2;
            long lines = 0;
            int c, last = '\n';
            while ((c = std::fgetc(fp)) != EOF) {
                if (c == '\n') ++lines;
                last = c;
            }
            if (last != '\n') ++lines;
            std::fclose(fp);
            a.result = lines;
            return 0;
        }
        case OP_NAME:
            if (a.out) *a.out = path;
            return 0;
        case OP_BYTES:
            a.result = static_cast<long>(f.record_length);
            return 0;
        default:
            return 80;
    }
}

}  // namespace dt
