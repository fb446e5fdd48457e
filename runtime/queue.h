// Queue<T>: the ordered in-memory list of records that every procedure and list box uses.
// The queue is also its own record buffer (it derives from T), so a procedure fills
// QFILES.NAME and calls QFILES.Add(), or calls QFILES.Get(i) and reads QFILES.NAME.
// Positions are 1-based. Storage is guarded by a mutex so that a list box on the GUI
// thread may read entries while the owning thread changes the queue; the buffer itself
// belongs to the owning thread alone.
//
// Get, Put and Delete leave ErrEntryNotFound for a position out of range and return it;
// callers walking 1..Records() may leave the result unread, so it is not [[nodiscard]].
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "runtime/errors.h"

namespace dt {

template <class T>
class Queue : public T {
    static_assert(std::is_trivially_copyable_v<T>, "queue entries are plain records");

  public:
    Queue() { ClearBuffer(); }
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    T& Buffer() { return *this; }
    const T& Buffer() const { return *this; }
    // Sets every byte of the buffer to zero (CLEAR of a queue).
    void ClearBuffer() { std::memset(static_cast<void*>(static_cast<T*>(this)), 0, sizeof(T)); }

    // Appends the buffer; the pointer moves to the new entry.
    void Add() {
        std::lock_guard lock(mutex_);
        entries_.push_back(Buffer());
        pointer_ = entries_.size();
        ++version_;
    }
    // Inserts the buffer at position pos (1-based; past the end appends).
    void Add(std::size_t pos) {
        std::lock_guard lock(mutex_);
        if (pos < 1) pos = 1;
        if (pos > entries_.size()) pos = entries_.size() + 1;
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(pos - 1), Buffer());
        pointer_ = pos;
        ++version_;
    }
    // Copies entry pos into the buffer. ErrEntryNotFound (30) when pos is out of range.
    ErrCode Get(std::size_t pos) {
        std::lock_guard lock(mutex_);
        if (pos < 1 || pos > entries_.size()) return SetError(ErrEntryNotFound);
        Buffer() = entries_[pos - 1];
        pointer_ = pos;
        return SetError(ErrNone);
    }
    // Writes the buffer back over the entry last got or added. ErrEntryNotFound when there
    // is none.
    ErrCode Put() {
        std::lock_guard lock(mutex_);
        if (pointer_ < 1 || pointer_ > entries_.size()) return SetError(ErrEntryNotFound);
        entries_[pointer_ - 1] = Buffer();
        ++version_;
        return SetError(ErrNone);
    }
    // Deletes the entry last got or added. ErrEntryNotFound when there is none.
    ErrCode Delete() {
        std::lock_guard lock(mutex_);
        if (pointer_ < 1 || pointer_ > entries_.size()) return SetError(ErrEntryNotFound);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pointer_ - 1));
        if (pointer_ > entries_.size()) pointer_ = entries_.size();
        ++version_;
        return SetError(ErrNone);
    }
    // Deletes every entry (FREE). The buffer keeps its content.
    void Free() {
        std::lock_guard lock(mutex_);
        entries_.clear();
        entries_.shrink_to_fit();
        pointer_ = 0;
        ++version_;
    }
    std::size_t Records() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }
    // Position of the entry last got, added or put (0 when none).
    std::size_t Pointer() const {
        std::lock_guard lock(mutex_);
        return pointer_;
    }
    // Stable sort by one field, ascending (or descending) by the field's operator<.
    template <class F>
    void Sort(F T::*field, bool descending = false) {
        SortBy([field, descending](const T& a, const T& b) {
            return descending ? Less(b.*field, a.*field) : Less(a.*field, b.*field);
        });
    }
    // Stable sort by a "less" predicate over entries.
    template <class Less>
    void SortBy(Less less) {
        std::lock_guard lock(mutex_);
        std::stable_sort(entries_.begin(), entries_.end(), less);
        ++version_;
    }

    // Reader access for list boxes: copies entry pos (1-based) into out; false when out of range.
    bool Peek(std::size_t pos, T& out) const {
        std::lock_guard lock(mutex_);
        if (pos < 1 || pos > entries_.size()) return false;
        out = entries_[pos - 1];
        return true;
    }
    // Runs fn(entry) for entry pos under the queue's lock, without a copy.
    template <class Fn>
    bool With(std::size_t pos, Fn&& fn) const {
        std::lock_guard lock(mutex_);
        if (pos < 1 || pos > entries_.size()) return false;
        fn(entries_[pos - 1]);
        return true;
    }
    // Grows on every change; a view compares it to know when to redraw.
    unsigned long Version() const {
        std::lock_guard lock(mutex_);
        return version_;
    }

  private:
    template <class F>
    static bool Less(const F& a, const F& b) {
        if constexpr (requires { a.View(); }) {
            return a.View() < b.View();
        } else if constexpr (requires { a.Value(); }) {
            return a.Value() < b.Value();
        } else if constexpr (std::is_array_v<F>) {
            return std::memcmp(a, b, sizeof(F)) < 0;
        } else {
            return a < b;
        }
    }

    mutable std::mutex mutex_;
    std::vector<T> entries_;
    std::size_t pointer_ = 0;
    unsigned long version_ = 0;
};

}  // namespace dt
