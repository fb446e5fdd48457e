// The generator of large FILES tables for the benchmarks: realistic rows (directories of
// a few levels shared by about 20 files each, names made of common words, years and
// numbers, camera pictures, extensions by frequency) written straight to a CSV file in the
// column order of FILES and, beside it, the same paths one per line for plocate-build -p.
// No file is made on disk, so millions of rows take seconds. Deterministic: the same
// count gives the same rows.
//
// Words the searches of search_bench rely on, whatever the row count:
//   zanzibar    exactly 200 rows (a selective search)
//   report 2002 about 0.015% of the rows (two words)
//   img         about 12% of the rows (a broad search)
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dt::bench {

class RowGenerator {
  public:
    // `root` begins every directory ("/" or a directory ending in "/").
    explicit RowGenerator(unsigned long rows, std::string root = "/") : rows_(rows) {
        const unsigned long dirs = rows / 20 + 1;
        dirs_.reserve(dirs);
        static const char* users[] = {"anna", "ben", "carla", "dave", "erik", "fatima", "gus",  "hana",
                                      "ivan", "jo",  "kim",   "lena", "marc", "nina",   "omar", "pia"};
        static const char* tops[] = {"Documents", "Projects", "Pictures", "Music",  "src",   "Downloads",
                                     "backup",    "work",     "archive",  "shared", "build", "Videos"};
        for (unsigned long k = 0; k < dirs; ++k) {
            std::string d = root + "home/" + std::string(users[k % 16]) + "/" + tops[(k / 16) % 12] + "/" +
                            Word(Next()) + std::to_string(k / 192 % 1000) + "/";
            if (k % 3 == 0) d += Word(Next()) + "/";
            dirs_.push_back(std::move(d));
        }
    }

    // Writes every row; false when a file cannot be written.
    bool Write(const std::string& csv_path, const std::string& list_path) {
        std::FILE* csv = std::fopen(csv_path.c_str(), "w");
        std::FILE* list = std::fopen(list_path.c_str(), "w");
        bool ok = csv != nullptr && list != nullptr;
        const unsigned long rare_every = rows_ >= 200 ? rows_ / 200 : 1;
        std::string line, name;
        for (unsigned long i = 1; ok && i <= rows_; ++i) {
            const std::string& dir = dirs_[Next() % dirs_.size()];
            const std::uint64_t r = Next();
            std::string ext;
            if (i % rare_every == 7 % rare_every && i / rare_every < 200) {
                name = "quarterly_zanzibar_" + std::to_string(i) + ".pdf";
                ext = "pdf";
            } else if (r % 100 < 12) {
                name = "IMG_" + std::to_string(1000 + (r >> 8) % 9000) + ".jpg";
                ext = "jpg";
            } else {
                static const char* seps[] = {"_", "-", " ", ""};
                name = Word(r >> 8) + seps[(r >> 20) % 4] + Word(r >> 24);
                if ((r >> 32) % 10 < 3) name += "_" + std::to_string(1990 + (r >> 36) % 36);
                if ((r >> 42) % 10 < 2) name += "_" + std::to_string((r >> 46) % 1000);
                ext = Extension(r >> 52);
                if (!ext.empty()) name += "." + ext;
            }
            line = std::to_string(i) + ",1,";
            Quoted(line, name);
            line += ',';
            Quoted(line, ext.substr(0, 10));
            line += ',';
            Quoted(line, dir);
            char when[64];
            std::snprintf(when, sizeof when, ",32,%04d-%02d-%02d %02d:%02d:%02d,%lu\n", 2000 + int(r % 26),
                          1 + int((r >> 5) % 12), 1 + int((r >> 9) % 28), int((r >> 14) % 24),
                          int((r >> 19) % 60), int((r >> 25) % 60),
                          static_cast<unsigned long>((r >> 31) % 50000000));
            line += when;
            ok = std::fwrite(line.data(), 1, line.size(), csv) == line.size();
            std::fprintf(list, "%s%s\n", dir.c_str(), name.c_str());
        }
        if (csv && std::fclose(csv) != 0) ok = false;
        if (list && std::fclose(list) != 0) ok = false;
        return ok;
    }

    // Every directory of the rows, once.
    const std::vector<std::string>& Directories() const { return dirs_; }

  private:
    std::uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    static std::string Word(std::uint64_t r) {
        static const char* words[] = {
            "report",  "budget",  "photo",     "notes",   "setup",   "readme",   "draft",    "invoice",
            "summary", "backup",  "track",     "letter",  "scan",    "data",     "config",   "main",
            "test",    "index",   "style",     "logo",    "banner",  "contract", "resume",   "thesis",
            "chapter", "figure",  "table",     "result",  "plan",    "meeting",  "minutes",  "agenda",
            "holiday", "beach",   "party",     "family",  "concert", "lecture",  "slides",   "paper",
            "review",  "final",   "old",       "new",     "copy",    "export",   "import",   "module",
            "server",  "client",  "util",      "helper",  "parser",  "render",   "kernel",   "driver",
            "font",    "icon",    "theme",     "song",    "album",   "cover",    "video",    "clip",
            "movie",   "trailer", "manual",    "guide",   "recipe",  "list",     "todo",     "archive",
            "tax",     "bank",    "statement", "salary",  "travel",  "ticket",   "map",      "route",
            "garden",  "house",   "kitchen",   "window",  "door",    "light",    "sound",    "voice",
            "memo",    "record",  "sample",    "profile", "account", "order",    "delivery", "stock",
            "price",   "quote",   "offer"};
        constexpr std::size_t n = sizeof(words) / sizeof(words[0]);
        return words[r % n];
    }
    static std::string Extension(std::uint64_t r) {
        static const char* exts[] = {"txt", "pdf", "doc",  "docx", "jpg",  "png", "mp3", "mp4",  "cpp",
                                     "h",   "py",  "xlsx", "zip",  "html", "css", "js",  "json", ""};
        return exts[r % (sizeof(exts) / sizeof(exts[0]))];
    }
    static void Quoted(std::string& out, const std::string& s) {
        out += '"';
        for (char c : s) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }

    unsigned long rows_;
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
    std::vector<std::string> dirs_;
};

}  // namespace dt::bench
