#include "framework/view_manager.h"

#include <cstring>

#include "data/file.h"
#include "data/statements.h"
#include "data/view.h"
#include "framework/error_interface.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "runtime/errors.h"

namespace dt {

ViewManager::~ViewManager() {
    Kill();
}

int ViewManager::Init(View& view, RelationManager& primary, std::vector<SortOrder>* orders) {
    VIEW = &view;
    PRIMARY = &primary;
    if (orders != nullptr) {
        ORDER = orders;
        DISPOSEORDER = 0;
    } else {
        own_orders_ = std::make_unique<std::vector<SortOrder>>();
        ORDER = own_orders_.get();
        DISPOSEORDER = 1;
    }
    current_ = ORDER->empty() ? 0 : 1;
    PAGESIZE = 20;
    PAGESBEHIND = 2;
    PAGESAHEAD = 0;
    TIMEOUT = 60;
    OPENED = 0;
    return primary.Me != nullptr ? primary.Me->UseFile() : SevQuiet;
}

void ViewManager::Kill() {
    Close();
    if (DISPOSEORDER) own_orders_.reset();
    ORDER = nullptr;
    DISPOSEORDER = 0;
    current_ = 0;
}

std::size_t ViewManager::AddSortOrder(Key* key) {
    if (ORDER == nullptr) return 0;
    SortOrder so;
    so.MAINKEY = key;
    ORDER->push_back(std::move(so));
    current_ = ORDER->size();
    return current_;
}

SortOrder* ViewManager::CurrentOrder() {
    if (ORDER == nullptr || current_ < 1 || current_ > ORDER->size()) return nullptr;
    return &(*ORDER)[current_ - 1];
}

std::size_t ViewManager::SortOrders() {
    return ORDER != nullptr ? ORDER->size() : 0;
}

std::size_t ViewManager::CurrentSort() {
    return current_;
}

void ViewManager::AddRange(std::string_view label, const void* value, const void* high, BYTE limit) {
    SortOrder* so = CurrentOrder();
    if (so == nullptr) return;
    so->RANGELIST.push_back(RangeField{std::string(label), value, high});
    so->LIMITTYPE = limit;
}

int ViewManager::AppendOrder(std::string_view text) {
    SortOrder* so = CurrentOrder();
    if (so == nullptr) return SevQuiet;
    if (so->ORDER.empty())
        so->ORDER = std::string(text);
    else if (!text.empty() && text.front() == '*')
        so->ORDER = std::string(text.substr(1));
    else
        so->ORDER += "," + std::string(text);
    return SevQuiet;
}

void ViewManager::SetOrder(std::string_view text) {
    SortOrder* so = CurrentOrder();
    if (so == nullptr) return;
    so->ORDER = std::string(text);
    so->replaced = true;
}

int ViewManager::SetSort(std::size_t n) {
    if (n == 0) n = 1;
    if (n == current_ || ORDER == nullptr || n > ORDER->size()) return 0;
    current_ = n;
    return 1;
}

void ViewManager::SetFilter(std::string_view text, std::string_view id) {
    SortOrder* so = CurrentOrder();
    if (so == nullptr) return;
    const std::string key(id.substr(0, 30));
    for (auto it = so->FILTER.begin(); it != so->FILTER.end(); ++it) {
        if (it->id != key) continue;
        if (text.empty())
            so->FILTER.erase(it);
        else
            it->text = std::string(text);
        return;
    }
    if (!text.empty()) so->FILTER.push_back(NamedFilter{key, std::string(text)});
}

std::string ViewManager::OrderText() {
    SortOrder* so = CurrentOrder();
    if (so == nullptr) return "";
    std::string out;
    if (so->MAINKEY != nullptr && !so->replaced) {
        // The key's components, compared without regard to case where the key says so.
        const Key& k = *so->MAINKEY;
        for (const KeyComponent& kc : k.components) {
            if (kc.field < 0) continue;
            const Field& f = k.file.fields[static_cast<std::size_t>(kc.field)];
            const bool text = f.type == FT_STRING || f.type == FT_CSTRING || f.type == FT_PSTRING;
            if (!out.empty()) out += ',';
            if (kc.descending) out += '-';
            out += k.Has(KEY_NOCASE) && text ? "UPPER(" + f.label + ")" : f.label;
        }
    }
    if (!so->ORDER.empty()) out += (out.empty() ? "" : ",") + so->ORDER;
    return out;
}

int ViewManager::ApplyOrder() {
    if (VIEW == nullptr) return SevQuiet;
    const std::string text = OrderText();
    if (VIEW->Order() == text) return SevQuiet;
    return VIEW->SetOrder(text);
}

std::string ViewManager::RangeText() {
    SortOrder* so = CurrentOrder();
    if (so == nullptr || VIEW == nullptr) return "";
    std::string out;
    auto term = [&](const std::string& label, const char* op, const void* value) {
        if (!out.empty()) out += " AND ";
        out += label + op + VIEW->ValueLiteral(label, value);
    };
    if (so->LIMITTYPE != RangeNone) {
        const std::size_t n = so->RANGELIST.size();
        for (std::size_t i = 0; i < n; ++i) {
            const RangeField& r = so->RANGELIST[i];
            if (r.value == nullptr) continue;
            if (so->LIMITTYPE == RangeRange && i + 1 == n) {
                term(r.label, " >= ", r.value);
                if (r.high != nullptr) term(r.label, " <= ", r.high);
            } else {
                term(r.label, " = ", r.value);
            }
        }
    }
    for (const NamedFilter& f : so->FILTER) out += (out.empty() ? "(" : " AND (") + f.text + ")";
    if (out.size() > 5000) out.resize(5000);
    return out;
}

int ViewManager::ApplyRange() {
    if (VIEW == nullptr) return SevQuiet;
    const std::string text = RangeText();
    if (VIEW->GetProperty(PROP_ViewFilter) != text) VIEW->SetFilter(text);
    return SevQuiet;
}

BYTE ViewManager::RangeChanged() {
    return 0;
}

int ViewManager::Open() {
    if (VIEW == nullptr) return 5;
    if (!OPENED) {
        ApplyOrder();
        ApplyRange();
        if (VIEW->Open(0x22) != 0) {
            // The view goes on without its filter and range limits.
            RaiseMessage(ViewMsg::ViewOpenError);
            VIEW->SetFilter("");
            VIEW->SetSqlFilter("");
            if (VIEW->Open(0x22) != 0) return 5;
        }
        VIEW->Buffer(PAGESIZE, PAGESBEHIND, PAGESAHEAD, TIMEOUT);
        OPENED = 1;
    }
    ApplyOrder();
    ApplyRange();
    return SevQuiet;
}

void ViewManager::Close() {
    if (OPENED && VIEW != nullptr) VIEW->Close();
    OPENED = 0;
}

int ViewManager::SetViewStart() {
    if (VIEW == nullptr) return SevQuiet;
    VIEW->Set();
    return SevQuiet;
}

void ViewManager::ResetView() {
    ApplyOrder();
    ApplyRange();
    SetViewStart();
}

int ViewManager::ValidateRecord() {
    return 0;
}

int ViewManager::RaiseMessage(USHORT id) {
    if (PRIMARY != nullptr && PRIMARY->Me != nullptr) return PRIMARY->Me->Raise(id);
    return SevNotify;
}

int ViewManager::PrimeRecord(BYTE keep_buffer) {
    if (PRIMARY == nullptr || PRIMARY->Me == nullptr) return SevNotify;
    File& f = PRIMARY->Me->TheFile();
    if (!keep_buffer) std::memset(f.Record(), 0, f.record_length);
    if (SortOrder* so = CurrentOrder(); so != nullptr && so->LIMITTYPE != RangeNone) {
        std::size_t n = so->RANGELIST.size();
        if (so->LIMITTYPE == RangeRange) n = n >= 2 ? n - 2 : 0;
        for (std::size_t i = 0; i < n; ++i) {
            const RangeField& r = so->RANGELIST[i];
            const int idx = f.FieldIndex(r.label);
            if (idx < 0 || r.value == nullptr) continue;
            const Field& fd = f.fields[static_cast<std::size_t>(idx)];
            std::memcpy(f.Record() + fd.offset, r.value, fd.size);
        }
    }
    return PRIMARY->Me->PrimeRecord(1);
}

int ViewManager::TakeNext() {
    return Next();
}

int ViewManager::TakePrevious() {
    return Previous();
}

namespace {

// ValidateRecord's answer that skips the record just read.
constexpr int kSkipRecord = 1;

// Reads until a record passes ValidateRecord: the view's code in, a severity out.
template <class Read>
Severity ReadRecord(ViewManager& vm, Read read) {
    // Bounded: a validation that skips every record still ends with the view.
    for (long guard = 0; guard < 100'000'000L; ++guard) {
        const ErrCode rc = read();
        if (rc == ErrRecordNotAvailable) return SevNotify;
        if (rc != ErrNone) return SevFatal;
        const int v = vm.ValidateRecord();
        if (v == SevQuiet) return SevQuiet;
        if (v != kSkipRecord) return SevNotify;
    }
    return SevNotify;
}

}  // namespace

int ViewManager::Next() {
    if (VIEW == nullptr) return 5;
    const Severity rc = ReadRecord(*this, [this] { return VIEW->Next(); });
    if (rc == SevFatal) RaiseMessage(ViewMsg::RetrievalError);
    return rc;
}

int ViewManager::Previous() {
    if (VIEW == nullptr) return 5;
    const Severity rc = ReadRecord(*this, [this] { return VIEW->Previous(); });
    if (rc == SevFatal) RaiseMessage(ViewMsg::RetrievalError);
    return rc;
}

}  // namespace dt
