// IniManager: the program's settings-file manager. Single values, values that must exist,
// small lists stored as numbered keys, window placement under the procedure's name, and
// the sector registry (named groups of saved settings) kept in "__Dont_Touch_Me__".
// Also declares WindowPlacement, the part of a window the manager saves and restores.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

// What the settings-file manager needs of a window; the window layer implements it.
// Positions and sizes are in the window's own units.
class WindowPlacement {
  public:
    virtual ~WindowPlacement() = default;
    virtual bool IsMinimized() const = 0;
    virtual bool IsMaximized() const = 0;
    // Maximises the window (true) or restores its normal state (false).
    virtual void SetMaximized(bool maximized) = 0;
    virtual void GetPosition(int& x, int& y) const = 0;
    virtual void SetPosition(int x, int y) = 0;
    virtual void GetSize(int& width, int& height) const = 0;
    virtual void SetSize(int width, int height) = 0;
    virtual bool IsResizable() const = 0;
};

// One entry of the sector registry.
#pragma pack(push, 1)
struct SectorEntry {
    CSTRING<100> FAMILY;
    CSTRING<100> ITEM;
    CSTRING<100> TYPE;
};
#pragma pack(pop)
static_assert(sizeof(SectorEntry) == 300);

using SectorQueue = Queue<SectorEntry>;

// Decimal text to a number the way the settings are read back: leading blanks, an
// optional sign and digits; anything else (a missing value, "---Unknown---") is 0.
long IniNumber(std::string_view text);

// A field of a queue record as WriteList and ReadList use it: read as text from a record,
// set from text. Made from a pointer to a CSTRING, STRING or numeric member, or from two
// accessors. A default-made field is "not given".
template <class T>
class IniField {
  public:
    IniField() = default;
    template <std::size_t N>
    IniField(CSTRING<N> T::*m)  // NOLINT: implicit, so callers pass &Q::FIELD
        : get_([m](const T& r) { return std::string((r.*m).View()); }),
          set_([m](T& r, std::string_view v) { (r.*m).Assign(v); }) {}
    template <std::size_t N>
    IniField(STRING<N> T::*m)  // NOLINT
        : get_([m](const T& r) { return (r.*m).Str(); }),
          set_([m](T& r, std::string_view v) { (r.*m).Assign(v); }) {}
    // Records are packed, so a numeric member may sit at any address: it is copied
    // bytewise, never loaded through a typed reference.
    template <class I>
    requires std::is_arithmetic_v<I> IniField(I T::*m)  // NOLINT
        : get_([m](const T& r) {
              I v;
              std::memcpy(&v, static_cast<const void*>(&(r.*m)), sizeof v);
              return std::to_string(v);
          }),
          set_([m](T& r, std::string_view text) {
              const I v = static_cast<I>(IniNumber(text));
              std::memcpy(static_cast<void*>(&(r.*m)), &v, sizeof v);
          }) {}
    IniField(std::function<std::string(const T&)> get, std::function<void(T&, std::string_view)> set)
        : get_(std::move(get)), set_(std::move(set)) {}

    bool Given() const { return static_cast<bool>(get_) && static_cast<bool>(set_); }
    std::string Get(const T& record) const { return get_(record); }
    void Set(T& record, std::string_view value) const { set_(record, value); }

  private:
    std::function<std::string(const T&)> get_;
    std::function<void(T&, std::string_view)> set_;
};

class IniManager {
  public:
    // The settings file as given to Startup (at most 259 bytes); empty: the system
    // profile. A longer name is still used whole for reading and writing (a cut path
    // would be another file) as long as FILENAME holds what Startup put there.
    CSTRING<260> FILENAME;
    // The sector registry: exists from Startup to Shutdown, nullptr otherwise. Owned by
    // the manager; touch it only from the thread that set the manager up.
    SectorQueue* SECTORS = nullptr;

    IniManager() = default;
    virtual ~IniManager() = default;
    IniManager(const IniManager&) = delete;
    IniManager& operator=(const IniManager&) = delete;

    // The private-profile read of key in section of file (the system profile when file is
    // empty); `def` when missing.
    virtual std::string ReadRaw(std::string_view section, std::string_view key, std::string_view def,
                                std::string_view file);
    // The private-profile write; a write that fails is not reported.
    virtual void WriteRaw(std::string_view section, std::string_view key, std::string_view value,
                          std::string_view file);
    // Called by Startup once the sector queue exists and before it is loaded.
    virtual void OnStartup() {}
    // Called by the program after its main procedure has returned, before Shutdown.
    virtual void BeforeShutdown() {}

    // Takes the settings file name, creates the sector queue and loads it.
    void Startup(std::string_view file);
    // Writes the sector registry back (unless read-only) and disposes of the sector queue.
    void Shutdown();

    // A read-only manager reads as usual but writes nothing (Write, WriteList, SaveWindow
    // and Shutdown leave the file as it is): a run that nobody watches has no window
    // placement or registry worth keeping.
    void SetReadOnly(bool read_only);
    bool ReadOnly() const;

    // Writes value under section/key of FILENAME.
    void Write(std::string_view section, std::string_view key, std::string_view value);
    // The value, or "" when missing.
    std::string TryRead(std::string_view section, std::string_view key);
    // The value (at most 1000 bytes), or "---Unknown---" when missing.
    std::string ReadRequired(std::string_view section, std::string_view key);
    // The n-th (from 1) comma-separated part of ReadRequired(section, key). While skipping
    // the first n-1 parts, a missing "," sends the search back to position 1.
    std::string ReadPart(std::string_view section, std::string_view key, long n);

    // Writes the queue's record count under `name` and each record i as name_i: first,
    // then "," second and "," third when given (at most 5000 bytes). The caller's record
    // buffer is left alone.
    template <class T>
    void WriteList(std::string_view section, std::string_view name, const Queue<T>& queue,
                   const IniField<T>& first, const IniField<T>& second = {}, const IniField<T>& third = {});
    // Appends the records written by WriteList to the queue (nothing is cleared first):
    // fields are set in the queue's record buffer, then the buffer is added. A missing
    // count reads nothing; reading stops at the first missing numbered key.
    template <class T>
    void ReadList(std::string_view section, std::string_view name, Queue<T>& queue, const IniField<T>& first,
                  const IniField<T>& second = {}, const IniField<T>& third = {});

    // Saves the window's maximised state, position and (when resizable) size under
    // section; a minimised window saves nothing.
    void SaveWindow(std::string_view section, WindowPlacement& window);
    // Restores what SaveWindow saved; nothing when "Maximize" is neither "Yes" nor "No".
    void RestoreWindow(std::string_view section, WindowPlacement& window);

    // family "$" item (every "$" doubled) "$$" type.
    static std::string ComposeName(std::string_view family, std::string_view item, std::string_view type);
    // Splits a composed name; item comes back as stored (with its "$" doubled).
    static void SplitName(std::string_view name, std::string& family, std::string& item, std::string& type);
    // Adds the name's (family, item, type) to the sector registry unless it is there.
    // Nothing happens outside Startup .. Shutdown.
    void RegisterSector(std::string_view name);
    // Replaces result's entries with copies of the registry entries whose fields equal the
    // non-blank arguments, ITEM with every "$$$" turned into "$".
    void ListSectors(std::string_view family, std::string_view item, std::string_view type,
                     SectorQueue& result);

  private:
    std::string FileName() const;
    void NormalizeSectors();

    // Guards FILENAME and the sector queue; recursive so that an override of OnStartup,
    // ReadRaw or WriteRaw may call back into the manager.
    mutable std::recursive_mutex mutex_;
    std::unique_ptr<SectorQueue> sectors_;
    std::string file_;  // the whole name given to Startup
    bool read_only_ = false;
};

namespace ini_detail {
// A value no profile line can hold: what ReadRaw returns for a missing key when asked
// with it as the default.
inline constexpr std::string_view kMissing = "\n";
// value cut to at most max bytes without splitting a UTF-8 character.
std::string CutValue(std::string value, std::size_t max);
}  // namespace ini_detail

template <class T>
void IniManager::WriteList(std::string_view section, std::string_view name, const Queue<T>& queue,
                           const IniField<T>& first, const IniField<T>& second, const IniField<T>& third) {
    const std::size_t count = queue.Records();
    Write(section, name, std::to_string(count));
    T record;
    for (std::size_t i = 1; i <= count; ++i) {
        if (!queue.Peek(i, record)) break;  // the queue shrank meanwhile
        std::string value = first.Given() ? first.Get(record) : std::string();
        if (second.Given()) value += "," + second.Get(record);
        if (third.Given()) value += "," + third.Get(record);
        Write(section, std::string(name) + "_" + std::to_string(i),
              ini_detail::CutValue(std::move(value), 5000));
    }
}

template <class T>
void IniManager::ReadList(std::string_view section, std::string_view name, Queue<T>& queue,
                          const IniField<T>& first, const IniField<T>& second, const IniField<T>& third) {
    const long count = IniNumber(TryRead(section, name));
    const std::string file = FileName();
    for (long i = 1; i <= count; ++i) {
        const std::string key = std::string(name) + "_" + std::to_string(i);
        // A count larger than the keys written (a damaged file) must not add millions of
        // "---Unknown---" records: reading ends at the first missing key.
        if (ReadRaw(section, key, ini_detail::kMissing, file) == ini_detail::kMissing) break;
        if (first.Given()) first.Set(queue.Buffer(), ReadPart(section, key, 1));
        if (second.Given()) second.Set(queue.Buffer(), ReadPart(section, key, 2));
        if (third.Given()) third.Set(queue.Buffer(), ReadPart(section, key, 3));
        queue.Add();
    }
}

}  // namespace dt
