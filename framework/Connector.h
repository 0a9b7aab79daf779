#pragma once
// The connector family: named, typed value endpoints owned by modules and linked
// into link groups.
//
// How a change travels: a Set operation stores the value and then runs one of
// three propagation rules over the connector's LinkGroup. Each other member gets
// the value converted to its own kind through a Store operation, which never
// propagates, and then its owner's handler is called. A change therefore moves
// exactly one step and a group can never loop. The source's own handler is not
// called. Handlers may set connectors themselves; the outer pass then carries on
// over the live group, re-reading the source's group and its member count at
// every step.
//
// Connectors and link groups are shared between deliverables as plain objects:
// every deliverable compiles this code, so the layout and the order of the
// virtual operations below must never change. Objects are freed by the code
// that made them (virtual destructor); a link group is freed by its last
// leaving member.

#include <cstdint>

#include "Array.h"
#include "String.h"

class KorvoModule;
class KorvoConnector;

using LinkGroup = Array<KorvoConnector*>;
// Change handler: a member operation of the owning module, called with the
// connector that a linked peer changed. Null means "do nothing".
using KorvoHandler = void (KorvoModule::*)(KorvoConnector*);

// Turns a module class's member operation into a KorvoHandler.
template <typename ModuleClass>
KorvoHandler MakeHandler(void (ModuleClass::*handler)(KorvoConnector*)) {
    return static_cast<KorvoHandler>(handler);
}

class KorvoConnector {
public:
    enum : uint32_t {
        KindLong = 1,
        KindDouble = 2,
        KindText = 3,
        KindUser = 4,
        KindMask = 0xFF,
        FlagPersistent = 0x100,
    };

    KorvoConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags, KorvoModule* owner);

    // Slot order is part of the shared layout; do not reorder.
    virtual ~KorvoConnector();                                 // 0
    virtual uint32_t GetFlags();                               // 1
    virtual int32_t GetLong() = 0;                             // 2
    virtual double GetDouble() = 0;                            // 3
    virtual String GetText() = 0;                              // 4
    virtual int32_t GetUserValue() = 0;                        // 5
    virtual void SetUserValue(int32_t value, bool force) = 0;  // 6
    virtual void SetText(const wchar_t* text, bool force) = 0; // 7
    virtual void SetDouble(double value, bool force) = 0;      // 8
    virtual void SetLong(int32_t value, bool force) = 0;       // 9
    virtual void Propagate() = 0;                              // 10
    virtual void StoreUserValue(int32_t value) = 0;            // 11
    virtual void StoreText(const wchar_t* text) = 0;           // 12
    virtual void StoreDouble(double value) = 0;                // 13
    virtual void StoreLong(int32_t value) = 0;                 // 14

    // Links this connector and other into one group, then pushes this
    // connector's value to every member that differs.
    void Connect(KorvoConnector* other);

    const String& Name() const { return name; }
    uint32_t Kind() const { return flags & KindMask; }
    LinkGroup* Group() const { return group; }
    KorvoModule* Owner() const { return owner; }
    void SetHandler(KorvoHandler newHandler) { handler = newHandler; }

protected:
    // The three propagation rules; all = true passes the value to every member.
    void PropagateLong(bool all);
    void PropagateDouble(bool all);
    void PropagateText(bool all);
    // The walk the three rules share (defined and used in Connector.cpp only).
    template <typename Differs, typename Store>
    void PropagateTo(bool all, Differs differs, Store store);
    void Notify();

    String name;
    void* value = nullptr;
    uint32_t flags;
    KorvoModule* owner;
    LinkGroup* group = nullptr;
    KorvoHandler handler;
};

class KorvoLongConnector : public KorvoConnector {
public:
    KorvoLongConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags, KorvoModule* owner);
    ~KorvoLongConnector() override;
    int32_t GetLong() override;
    double GetDouble() override;
    String GetText() override;
    int32_t GetUserValue() override;
    void SetUserValue(int32_t value, bool force) override;
    void SetText(const wchar_t* text, bool force) override;
    void SetDouble(double value, bool force) override;
    void SetLong(int32_t value, bool force) override;
    void Propagate() override;
    void StoreUserValue(int32_t value) override;
    void StoreText(const wchar_t* text) override;
    void StoreDouble(double value) override;
    void StoreLong(int32_t value) override;

private:
    int32_t& Value() { return *static_cast<int32_t*>(value); }
};

class KorvoDoubleConnector : public KorvoConnector {
public:
    KorvoDoubleConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags, KorvoModule* owner);
    ~KorvoDoubleConnector() override;
    int32_t GetLong() override;
    double GetDouble() override;
    String GetText() override;
    int32_t GetUserValue() override;
    void SetUserValue(int32_t value, bool force) override;
    void SetText(const wchar_t* text, bool force) override;
    void SetDouble(double value, bool force) override;
    void SetLong(int32_t value, bool force) override;
    void Propagate() override;
    void StoreUserValue(int32_t value) override;
    void StoreText(const wchar_t* text) override;
    void StoreDouble(double value) override;
    void StoreLong(int32_t value) override;

private:
    double& Value() { return *static_cast<double*>(value); }
};

class KorvoTextConnector : public KorvoConnector {
public:
    KorvoTextConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags, KorvoModule* owner);
    ~KorvoTextConnector() override;
    int32_t GetLong() override;
    double GetDouble() override;
    String GetText() override;
    int32_t GetUserValue() override;
    void SetUserValue(int32_t value, bool force) override;
    void SetText(const wchar_t* text, bool force) override;
    void SetDouble(double value, bool force) override;
    void SetLong(int32_t value, bool force) override;
    void Propagate() override;
    void StoreUserValue(int32_t value) override;
    void StoreText(const wchar_t* text) override;
    void StoreDouble(double value) override;
    void StoreLong(int32_t value) override;

    // The stored text without a copy.
    const wchar_t* Text() const { return static_cast<const wchar_t*>(value); }

private:
    void Replace(const wchar_t* text);
};

class KorvoUserConnector : public KorvoConnector {
public:
    KorvoUserConnector(const wchar_t* name, KorvoHandler handler, uint32_t flags, KorvoModule* owner);
    int32_t GetLong() override;
    double GetDouble() override;
    String GetText() override;
    int32_t GetUserValue() override;
    void SetUserValue(int32_t value, bool force) override;
    void SetText(const wchar_t* text, bool force) override;
    void SetDouble(double value, bool force) override;
    void SetLong(int32_t value, bool force) override;
    void Propagate() override;
    void StoreUserValue(int32_t value) override;
    void StoreText(const wchar_t* text) override;
    void StoreDouble(double value) override;
    void StoreLong(int32_t value) override;
};
