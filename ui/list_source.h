// What a list box shows: a ListSource is an accessor over the application's queue plus the
// list of queue fields the list format takes, in order. The list reads entries straight
// from the queue (under the queue's own lock, on the GUI thread) without copying the
// queue, and redraws when the queue's Version() changes. QueueSource<T> adapts a Queue<T>.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <type_traits>
#include <vector>

#include "runtime/queue.h"
#include "runtime/types.h"
#include "ui/definition.h"

namespace dt::ui {

// One queue field: its value type (UseType codes), byte offset in the entry and size.
struct QueueField {
    UseType type = UseType::None;
    std::size_t offset = 0;
    std::size_t size = 0;
};

// Read access to the rows of a list. Implementations must be safe to call from the GUI
// thread while the owning thread changes the queue (Queue<T> is).
class ListSource {
  public:
    virtual ~ListSource() = default;
    // Number of rows now.
    virtual std::size_t Records() const = 0;
    // Grows whenever the rows change.
    virtual unsigned long Version() const = 0;
    // Calls fn with the bytes of row pos (1-based) while the row cannot change; false
    // when pos is out of range (fn is not called).
    virtual bool WithRow(std::size_t pos, const std::function<void(const char* entry)>& fn) const = 0;
    // The fields the list format consumes, in order.
    const std::vector<QueueField>& Fields() const { return fields_; }
    void AddField(QueueField f) { fields_.push_back(f); }

  private:
    std::vector<QueueField> fields_;
};

namespace detail {
template <class F>
struct IsString : std::false_type {};
template <std::size_t N>
struct IsString<STRING<N>> : std::true_type {};
template <class F>
struct IsCString : std::false_type {};
template <std::size_t N>
struct IsCString<CSTRING<N>> : std::true_type {};

template <class F>
constexpr UseType UseTypeOf() {
    if constexpr (std::is_same_v<F, BYTE>)
        return UseType::Byte;
    else if constexpr (std::is_same_v<F, SHORT>)
        return UseType::Short;
    else if constexpr (std::is_same_v<F, USHORT>)
        return UseType::UShort;
    else if constexpr (std::is_same_v<F, LONG>)
        return UseType::Long;
    else if constexpr (std::is_same_v<F, ULONG>)
        return UseType::ULong;
    else if constexpr (std::is_same_v<F, INT64>)
        return UseType::Int64;
    else if constexpr (std::is_same_v<F, REAL>)
        return UseType::Real;
    else if constexpr (std::is_same_v<F, DATE>)
        return UseType::Date;
    else if constexpr (std::is_same_v<F, TIME>)
        return UseType::Time;
    else if constexpr (IsString<F>::value)
        return UseType::String;
    else if constexpr (IsCString<F>::value)
        return UseType::CString;
    else {
        static_assert(sizeof(F) == 0, "unsupported queue field type");
        return UseType::None;
    }
}
}  // namespace detail

// The field descriptor of member m of T (offset computed on a zeroed object; T is a
// plain record).
template <class T, class F>
QueueField FieldOf(F T::*m) {
    alignas(T) static unsigned char storage[sizeof(T)] = {};
    const T* t = reinterpret_cast<const T*>(storage);
    std::size_t off = static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(&(t->*m)) - storage);
    return QueueField{detail::UseTypeOf<F>(), off, sizeof(F)};
}

// A list source over a Queue<T>. The queue must outlive the source.
template <class T>
class QueueSource final : public ListSource {
  public:
    explicit QueueSource(const Queue<T>& q) : q_(q) {}
    std::size_t Records() const override { return q_.Records(); }
    unsigned long Version() const override { return q_.Version(); }
    bool WithRow(std::size_t pos, const std::function<void(const char*)>& fn) const override {
        return q_.With(pos, [&](const T& e) { fn(reinterpret_cast<const char*>(&e)); });
    }
    // Adds a field by member pointer; returns *this for chaining.
    template <class F>
    QueueSource& Field(F T::*m) {
        AddField(FieldOf(m));
        return *this;
    }

  private:
    const Queue<T>& q_;
};

// A shared list source over queue q showing the given members in order:
// MakeQueueSource(QDRIVE, &QDriveRec::DRIVE, &QDriveRec::DESCRIPTION).
template <class T, class... M>
std::shared_ptr<QueueSource<T>> MakeQueueSource(const Queue<T>& q, M... members) {
    auto s = std::make_shared<QueueSource<T>>(q);
    (s->Field(members), ...);
    return s;
}

}  // namespace dt::ui
