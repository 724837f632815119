#pragma once

// The component model every control and dialog shares: a name, an owner that
// frees what it owns, and the event types handlers are written against.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vmk {

class TObject {
public:
    TObject() = default;
    virtual ~TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
};

// Shift state of key and mouse events: a set of the flags below.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1u << 0;
constexpr TShiftState ssAlt = 1u << 1;
constexpr TShiftState ssCtrl = 1u << 2;
constexpr TShiftState ssLeft = 1u << 3;
constexpr TShiftState ssRight = 1u << 4;
constexpr TShiftState ssMiddle = 1u << 5;
constexpr TShiftState ssDouble = 1u << 6;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
// Key is a Windows virtual-key code; a handler may change it (0 swallows the key).
using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TTabChangeEvent = std::function<void(TObject* Sender, int NewTab, bool& AllowChange)>;
// Files dropped onto a control from a file manager: their full local paths, in drop order.
using TDropFilesEvent = std::function<void(TObject* Sender, const std::vector<std::string>& Files)>;

// A named object that may own others; the owner frees what it owns, newest first.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    const std::string& GetName() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    TComponent* GetOwner() const { return owner_; }

    // The owned component of that name (exact match), or null.
    TComponent* FindComponent(const std::string& name) const;
    int GetComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* GetComponent(int index) const;

    // Makes a component owned by owner (not null) and named name; the owner frees it.
    template <class T, class... Args>
    static T* Create(TComponent& owner, const std::string& name, Args&&... args) {
        auto made = std::make_unique<T>(&owner, std::forward<Args>(args)...);
        T* raw = made.get();
        raw->SetName(name);
        owner.Adopt(std::move(made));
        return raw;
    }

    // Takes ownership of component.
    void Adopt(std::unique_ptr<TComponent> component);
    // Frees every owned component, newest first.
    void DestroyComponents();

private:
    TComponent* owner_;
    std::string name_;
    std::vector<std::unique_ptr<TComponent>> components_;
};

}  // namespace vmk
