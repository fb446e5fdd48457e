// A scripted in-memory file driver for the file and relation manager tests: rows kept as
// record copies, keys compared component by component, unique keys enforced (error 40),
// and hooks that make chosen operations fail or let "another station" act in between.
// One driver instance is live at a time (the entry routine has no user data).
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "data/codes.h"
#include "data/file.h"

namespace dt::test {

class FakeDriver {
  public:
    FakeDriver() { live_ = this; }
    ~FakeDriver() { live_ = nullptr; }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;

    static const DriverRegistration& Registration() {
        static const std::uint8_t ops[] = {33,           OP_ADD,          OP_BUILDfile,    OP_CLOSE,
                                           OP_COMMIT,    OP_CREATE,       OP_DELETE,       OP_GETfilekey,
                                           OP_LOGOUT,    OP_NEXT,         OP_OPEN,         OP_PREVIOUS,
                                           OP_PUT,       OP_REGETfile,    OP_ROLLBACK,     OP_SEND,
                                           OP_SETfile,   OP_SETkeykey,    OP_POSITIONfile, OP_WATCH,
                                           OP_GETNULLS,  OP_SETNULLS,     OP_GETSTATE,     OP_RESTORESTATE,
                                           OP_FREESTATE, OP_SHARE,        OP_SETkey,       OP_RECORDSfile,
                                           OP_NAME,      OP_SET_PROPERTY, OP_GET_PROPERTY, OP_SKIP,
                                           OP_EMPTY,     OP_REMOVE};
        static const std::uint8_t types[] = {5, FT_BYTE, FT_LONG, FT_ULONG, FT_CSTRING, FT_STRING};
        static const DriverRegistration reg = {"FAKE", "", "", "", &Entry, 0, {}, 0, 0, 0, ops, types};
        return reg;
    }

    // ---- the table's state ----
    bool exists = true;
    bool opened = false;
    int open_mode = -1;
    std::vector<std::string> rows;
    std::string nulls = "nulls-0";

    // ---- what happened ----
    std::vector<int> ops;             // every operation, in order
    std::vector<std::string> sent;    // SEND texts
    std::vector<long> create_values;  // the form word of each CREATE
    int Count(int op) const { return static_cast<int>(std::count(ops.begin(), ops.end(), op)); }

    // ---- scripting ----
    // Results to return for an operation, one per call, before the normal behaviour.
    std::map<int, std::deque<int>> script;
    // Called before each ADD (another station inserting in between).
    std::function<void(File&)> before_add;
    // Called before each PUT; a non-zero result is returned instead of writing.
    std::function<int(File&)> before_put;

    // Adds a row directly (another station's insert).
    void Insert(const void* record, std::size_t length) {
        rows.emplace_back(static_cast<const char*>(record), length);
    }

  private:
    static int Entry(int op, File& f, DriverArgs& a) { return live_ ? live_->Do(op, f, a) : 80; }

    static int Compare(const File& f, const Key& k, const char* a, const char* b) {
        for (const KeyComponent& c : k.components) {
            const Field& fld = f.fields[static_cast<std::size_t>(c.field)];
            long long x = 0, y = 0;
            int r = 0;
            if (fld.type == FT_CSTRING || fld.type == FT_STRING) {
                r = std::memcmp(a + fld.offset, b + fld.offset, fld.size);
            } else {
                std::memcpy(&x, a + fld.offset, fld.size);
                std::memcpy(&y, b + fld.offset, fld.size);
                if (fld.type == FT_LONG) {
                    x = static_cast<std::int32_t>(x);
                    y = static_cast<std::int32_t>(y);
                }
                r = x < y ? -1 : x > y ? 1 : 0;
            }
            if (c.descending) r = -r;
            if (r != 0) return r;
        }
        return 0;
    }

    // OPT keys leave out rows whose key values are all empty.
    static bool EmptyKey(const File& f, const Key& k, const char* rec) {
        for (const KeyComponent& c : k.components) {
            const Field& fld = f.fields[static_cast<std::size_t>(c.field)];
            for (std::size_t i = 0; i < fld.size; ++i)
                if (rec[fld.offset + i] != 0 && rec[fld.offset + i] != ' ') return false;
        }
        return true;
    }

    int Duplicates(const File& f, const char* rec, int skip_row) const {
        for (const Key* k : f.keys) {
            if (k->Has(KEY_DUP)) continue;
            if (k->Has(KEY_OPT) && EmptyKey(f, *k, rec)) continue;
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (static_cast<int>(i) != skip_row && Compare(f, *k, rows[i].data(), rec) == 0) return 40;
        }
        return 0;
    }

    int Do(int op, File& f, DriverArgs& a) {
        ops.push_back(op);
        auto s = script.find(op);
        if (s != script.end() && !s->second.empty()) {
            int rc = s->second.front();
            s->second.pop_front();
            if (rc == 90) {
                a.file_error_code = "HY000";
                a.file_error = "fake failure";
            }
            if (rc != 0) return rc;
        }
        char* rec = f.Record();
        const std::size_t len = f.record_length;
        switch (op) {
            case OP_OPEN:
            case OP_SHARE:
                if (!exists) return 2;
                opened = true;
                open_mode = static_cast<int>(a.value);
                return 0;
            case OP_CLOSE:
                opened = false;
                return 0;
            case OP_CREATE:
                create_values.push_back(a.value);
                if (exists && a.value != 1) rows.clear();  // the plain form replaces the table
                exists = true;
                return 0;
            case OP_SEND:
                sent.emplace_back(a.text);
                return 0;
            case OP_BUILDfile:
            case OP_WATCH:
            case OP_LOGOUT:
            case OP_COMMIT:
            case OP_ROLLBACK:
            case OP_FREESTATE:
                return 0;
            case OP_SETfile:
                order_.clear();
                for (std::size_t i = 0; i < rows.size(); ++i) order_.push_back(static_cast<int>(i));
                cursor_ = -1;
                key_ = nullptr;
                return 0;
            case OP_SETkey:
                key_ = a.key;
                positioned_ = false;
                cursor_ = -1;
                order_.clear();
                return 0;
            case OP_SETkeykey:
                key_ = a.key;
                start_.assign(rec, len);
                positioned_ = true;
                cursor_ = -1;
                order_.clear();
                return 0;
            case OP_NEXT:
            case OP_PREVIOUS: {
                if (!opened) return 37;  // "File Not Open"
                const bool fwd = op == OP_NEXT;
                if (cursor_ < 0) {
                    order_.clear();
                    for (std::size_t i = 0; i < rows.size(); ++i) {
                        if (key_ && positioned_) {
                            int c = Compare(f, *key_, rows[i].data(), start_.data());
                            if (fwd ? c < 0 : c > 0) continue;
                        }
                        order_.push_back(static_cast<int>(i));
                    }
                    if (key_)
                        std::stable_sort(order_.begin(), order_.end(), [&](int x, int y) {
                            int c = Compare(f, *key_, rows[static_cast<std::size_t>(x)].data(),
                                            rows[static_cast<std::size_t>(y)].data());
                            return fwd ? c < 0 : c > 0;
                        });
                    cursor_ = 0;
                }
                if (cursor_ >= static_cast<int>(order_.size())) return 33;
                current_ = order_[static_cast<std::size_t>(cursor_++)];
                std::memcpy(rec, rows[static_cast<std::size_t>(current_)].data(), len);
                return 0;
            }
            case OP_ADD: {
                if (before_add) before_add(f);
                if (int rc = Duplicates(f, rec, -1)) return rc;
                rows.emplace_back(rec, len);
                current_ = static_cast<int>(rows.size()) - 1;
                return 0;
            }
            case OP_PUT: {
                if (before_put)
                    if (int rc = before_put(f)) {
                        if (rc == 90) {
                            a.file_error_code = "HY000";
                            a.file_error = "fake failure";
                        }
                        return rc;
                    }
                if (current_ < 0 || current_ >= static_cast<int>(rows.size())) return 33;
                if (int rc = Duplicates(f, rec, current_)) return rc;
                rows[static_cast<std::size_t>(current_)].assign(rec, len);
                return 0;
            }
            case OP_DELETE:
                if (current_ < 0 || current_ >= static_cast<int>(rows.size())) return 33;
                rows.erase(rows.begin() + current_);
                current_ = -1;
                cursor_ = -1;
                return 0;
            case OP_GETfilekey:
                for (std::size_t i = 0; i < rows.size(); ++i)
                    if (Compare(f, *a.key, rows[i].data(), rec) == 0) {
                        std::memcpy(rec, rows[i].data(), len);
                        current_ = static_cast<int>(i);
                        return 0;
                    }
                return 35;
            case OP_POSITIONfile:
                if (a.out) *a.out = std::to_string(current_);
                return 0;
            case OP_REGETfile: {
                int i = std::atoi(std::string(a.text).c_str());
                if (a.text.empty() || i < 0 || i >= static_cast<int>(rows.size())) return 35;
                std::memcpy(rec, rows[static_cast<std::size_t>(i)].data(), len);
                current_ = i;
                return 0;
            }
            case OP_GETNULLS:
                if (a.out) *a.out = nulls;
                return 0;
            case OP_SETNULLS:
                nulls = std::string(a.text);
                return 0;
            case OP_GETSTATE:
                states_[++last_state_] = {std::string(rec, len), current_};
                a.result = last_state_;
                return 0;
            case OP_RESTORESTATE: {
                auto it = states_.find(a.value);
                if (it == states_.end()) return 78;
                std::memcpy(rec, it->second.first.data(), len);
                current_ = it->second.second;
                return 0;
            }
            default:
                return 0;
        }
    }

    static inline FakeDriver* live_ = nullptr;
    const Key* key_ = nullptr;
    bool positioned_ = false;
    std::string start_;
    std::vector<int> order_;
    int cursor_ = -1;
    int current_ = -1;
    std::map<long, std::pair<std::string, int>> states_;
    long last_state_ = 0;
};

}  // namespace dt::test
