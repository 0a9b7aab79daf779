#include "Connector.h"

#include <cstdlib>
#include <cwchar>
#include <new>
#include <typeinfo>

#include "Conversion.h"
#include "Module.h"

namespace {

template <typename T>
T* NewValue(T initial) {
    auto* storage = static_cast<T*>(std::malloc(sizeof(T)));
    if (storage == nullptr) throw std::bad_alloc();
    *storage = initial;
    return storage;
}

wchar_t* CopyText(const wchar_t* text) {
    std::size_t length = std::wcslen(text);
    auto* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) throw std::bad_alloc();
    std::wmemcpy(copy, text, length + 1);
    return copy;
}

// Stores into a member of a long or double rule. Most members of such a group
// are plain connectors of that very kind made by this deliverable: those are
// recognised by their type_info object (one per deliverable, so a connector made
// by another library, or of a derived class, never matches) and stored without
// the virtual call, which is a good part of the cost of a notification. Every
// other member goes through its own Store operation. The effect is the same.
void StoreLongInto(KorvoConnector* member, int32_t v) {
    if (&typeid(*member) == &typeid(KorvoLongConnector))
        static_cast<KorvoLongConnector*>(member)->KorvoLongConnector::StoreLong(v);
    else
        member->StoreLong(v);
}

void StoreDoubleInto(KorvoConnector* member, double x) {
    if (&typeid(*member) == &typeid(KorvoDoubleConnector))
        static_cast<KorvoDoubleConnector*>(member)->KorvoDoubleConnector::StoreDouble(x);
    else
        member->StoreDouble(x);
}

}  // namespace

// ---------------------------------------------------------------------------
// KorvoConnector

KorvoConnector::KorvoConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags,
                               KorvoModule* owner)
    : name(name), flags(flags), owner(owner), handler(handler) {}

KorvoConnector::~KorvoConnector() {
    LinkGroup* left = group;
    if (left == nullptr) return;
    left->Remove(this);
    group = nullptr;
    // A group of one is dissolved; an empty group is freed.
    if (left->Count() == 1) {
        (*left)[0]->group = nullptr;
        left->RemoveAt(0);
    }
    if (left->Count() == 0) delete left;
}

uint32_t KorvoConnector::GetFlags() { return flags; }

// The handler is a member operation of the full module class, converted to one
// of KorvoModule. Calling it through the KorvoModule part is well defined (the
// object's dynamic type has that member, and the pointer's adjustment moves
// `this` to the full object), but the sanitizer's vptr check tests the adjusted
// address against KorvoModule and so rejects every module whose KorvoModule part
// is not its first base. The check is switched off for this one call.
__attribute__((no_sanitize("vptr"))) void KorvoConnector::Notify() {
    if (owner != nullptr && handler != nullptr) (owner->*handler)(this);
}

// The rules read this->group and its count afresh at every step: a handler may
// have grown, merged or left the group in the meantime. A member is stored into
// and notified when all is set or differs(member) finds its value different.
template <typename Differs, typename Store>
void KorvoConnector::PropagateTo(bool all, Differs differs, Store store) {
    for (int i = 0; group != nullptr && i < group->Count(); ++i) {
        KorvoConnector* m = (*group)[i];
        if (m == this) continue;
        if (all || differs(m)) {
            store(m);
            m->Notify();
        }
    }
}

void KorvoConnector::PropagateLong(bool all) {
    int32_t v = GetLong();
    PropagateTo(
        all, [v](KorvoConnector* m) { return m->GetLong() != v; },
        [v](KorvoConnector* m) { StoreLongInto(m, v); });
}

// Written as !(a == b) so that NaN, which equals nothing, always travels.
void KorvoConnector::PropagateDouble(bool all) {
    double x = GetDouble();
    PropagateTo(
        all, [x](KorvoConnector* m) { return !(m->GetDouble() == x); },
        [x](KorvoConnector* m) { StoreDoubleInto(m, x); });
}

void KorvoConnector::PropagateText(bool all) {
    String s = GetText();
    PropagateTo(
        all, [&s](KorvoConnector* m) { return !(m->GetText() == s); },
        [&s](KorvoConnector* m) { m->StoreText(s); });
}

void KorvoConnector::Connect(KorvoConnector* other) {
    if (other == nullptr) return;
    if (group == nullptr && other->group == nullptr) {
        auto* made = new LinkGroup();
        made->Add(this);
        group = made;
        if (!made->Contains(other)) made->Add(other);
        other->group = made;
    } else if (other->group == nullptr) {
        group->Add(other);
        other->group = group;
    } else if (group == nullptr) {
        other->group->Add(this);
        group = other->group;
    } else if (group != other->group) {
        LinkGroup* merged = group;
        LinkGroup* target = other->group;
        // Groups are disjoint, so the merged group needs room for both. Growing
        // first means that running out of memory leaves both groups as they were,
        // instead of members listed in two groups (which would dangle once one
        // of them is destroyed).
        target->EnsureRoom(target->Count() + merged->Count());
        for (int i = 0; i < merged->Count(); ++i) {
            KorvoConnector* m = (*merged)[i];
            if (!target->Contains(m)) target->Add(m);
            m->group = target;
        }
        delete merged;
    }
    Propagate();
}

// ---------------------------------------------------------------------------
// KorvoLongConnector

KorvoLongConnector::KorvoLongConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags,
                                       KorvoModule* owner)
    : KorvoConnector(name, handler, flags | KindLong, owner) {
    value = NewValue<int32_t>(0);
}
KorvoLongConnector::~KorvoLongConnector() { std::free(value); }

int32_t KorvoLongConnector::GetLong() { return Value(); }
double KorvoLongConnector::GetDouble() { return Value(); }
String KorvoLongConnector::GetText() { return FormatLong(Value()); }
int32_t KorvoLongConnector::GetUserValue() { return 0; }
void KorvoLongConnector::SetUserValue(int32_t, bool) {}
void KorvoLongConnector::SetText(const wchar_t* text, bool force) { SetLong(ParseLong(text), force); }
void KorvoLongConnector::SetDouble(double v, bool force) { SetLong(TruncateToLong(v), force); }
void KorvoLongConnector::SetLong(int32_t v, bool force) {
    if (!force && Value() == v) return;
    Value() = v;
    if (group != nullptr) PropagateLong(true);
}
void KorvoLongConnector::Propagate() { PropagateLong(false); }
void KorvoLongConnector::StoreUserValue(int32_t) {}
void KorvoLongConnector::StoreText(const wchar_t* text) { Value() = ParseLong(text); }
void KorvoLongConnector::StoreDouble(double v) { Value() = TruncateToLong(v); }
void KorvoLongConnector::StoreLong(int32_t v) { Value() = v; }

// ---------------------------------------------------------------------------
// KorvoDoubleConnector

KorvoDoubleConnector::KorvoDoubleConnector(const wchar_t* name, KorvoHandler handler,
                                           uint32_t flags, KorvoModule* owner)
    : KorvoConnector(name, handler, flags | KindDouble, owner) {
    value = NewValue<double>(0.0);
}
KorvoDoubleConnector::~KorvoDoubleConnector() { std::free(value); }

int32_t KorvoDoubleConnector::GetLong() { return TruncateToLong(Value()); }
double KorvoDoubleConnector::GetDouble() { return Value(); }
String KorvoDoubleConnector::GetText() { return FormatDouble(Value()); }
int32_t KorvoDoubleConnector::GetUserValue() { return 0; }
void KorvoDoubleConnector::SetUserValue(int32_t, bool) {}
void KorvoDoubleConnector::SetText(const wchar_t* text, bool force) {
    SetDouble(ParseDouble(text), force);
}
void KorvoDoubleConnector::SetDouble(double x, bool force) {
    if (!force && Value() == x) return;
    Value() = x;
    if (group != nullptr) PropagateDouble(true);
}
void KorvoDoubleConnector::SetLong(int32_t v, bool force) { SetDouble(v, force); }
void KorvoDoubleConnector::Propagate() { PropagateDouble(false); }
void KorvoDoubleConnector::StoreUserValue(int32_t) {}
void KorvoDoubleConnector::StoreText(const wchar_t* text) { Value() = ParseDouble(text); }
void KorvoDoubleConnector::StoreDouble(double x) { Value() = x; }
void KorvoDoubleConnector::StoreLong(int32_t v) { Value() = v; }

// ---------------------------------------------------------------------------
// KorvoTextConnector

KorvoTextConnector::KorvoTextConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags,
                                       KorvoModule* owner)
    : KorvoConnector(name, handler, flags | KindText, owner) {
    value = CopyText(L"");
}
KorvoTextConnector::~KorvoTextConnector() { std::free(value); }

void KorvoTextConnector::Replace(const wchar_t* text) {
    wchar_t* copy = CopyText(text);  // the old text stays if this throws
    std::free(value);
    value = copy;
}

int32_t KorvoTextConnector::GetLong() { return ParseLong(Text()); }
double KorvoTextConnector::GetDouble() { return ParseDouble(Text()); }
String KorvoTextConnector::GetText() { return String(Text()); }
int32_t KorvoTextConnector::GetUserValue() { return 0; }
void KorvoTextConnector::SetUserValue(int32_t, bool) {}

void KorvoTextConnector::SetText(const wchar_t* text, bool force) {
    if (text == nullptr) text = L"";
    bool same = std::wcscmp(text, Text()) == 0;
    if (same && !force) return;
    if (!same) Replace(text);
    if (group != nullptr) PropagateText(true);
}

// Set as a number, a text connector passes its value on as a double.
void KorvoTextConnector::SetDouble(double x, bool force) {
    bool same = ParseDouble(Text()) == x;
    if (same && !force) return;
    if (!same) Replace(FormatDouble(x));
    if (group != nullptr) PropagateDouble(true);
}

void KorvoTextConnector::SetLong(int32_t v, bool force) {
    bool same = ParseLong(Text()) == v;
    if (same && !force) return;
    if (!same) Replace(FormatLong(v));
    if (group != nullptr) PropagateDouble(true);
}

void KorvoTextConnector::Propagate() { PropagateText(false); }
void KorvoTextConnector::StoreUserValue(int32_t) {}
void KorvoTextConnector::StoreText(const wchar_t* text) {
    if (text == nullptr) text = L"";
    if (std::wcscmp(text, Text()) != 0) Replace(text);
}
void KorvoTextConnector::StoreDouble(double x) { StoreText(FormatDouble(x)); }
void KorvoTextConnector::StoreLong(int32_t v) { StoreText(FormatLong(v)); }

// ---------------------------------------------------------------------------
// KorvoUserConnector: holds no value and ignores writes, but is still told
// when a peer propagates.

KorvoUserConnector::KorvoUserConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags,
                                       KorvoModule* owner)
    : KorvoConnector(name, handler, flags | KindUser, owner) {}

int32_t KorvoUserConnector::GetLong() { return 0; }
double KorvoUserConnector::GetDouble() { return 0.0; }
String KorvoUserConnector::GetText() { return String(); }
int32_t KorvoUserConnector::GetUserValue() { return 0; }
void KorvoUserConnector::SetUserValue(int32_t, bool) {}
void KorvoUserConnector::SetText(const wchar_t*, bool) {}
void KorvoUserConnector::SetDouble(double, bool) {}
void KorvoUserConnector::SetLong(int32_t, bool) {}
void KorvoUserConnector::Propagate() {}
void KorvoUserConnector::StoreUserValue(int32_t) {}
void KorvoUserConnector::StoreText(const wchar_t*) {}
void KorvoUserConnector::StoreDouble(double) {}
void KorvoUserConnector::StoreLong(int32_t) {}
