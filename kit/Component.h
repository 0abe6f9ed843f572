#pragma once
// The component model: objects with an owner that frees them, a name, a designing/loading state and
// notifications about components coming and going. Components are created with new and an owner;
// the owner deletes what it owns in its own destructor, and nothing else deletes an owned component.
// A component created without an owner belongs to whoever created it.

#include "kit/Events.h"
#include "kit/Sets.h"

#include <string>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

enum TComponentStateItem { csLoading, csDesigning, csDestroying };
using TComponentState = TSet<TComponentStateItem>;

enum TOperation { opInsert, opRemove };

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const { return FComponents.at(static_cast<std::size_t>(Index)); }
    TComponent* FindComponent(const std::string& AName) const;

    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }

    TComponentState ComponentState() const { return FComponentState; }
    // Designing applies to the component and everything it owns.
    void SetDesigning(bool Value);
    // Marks the component as being loaded: its properties are being set in their designed order.
    // Loaded ends the state. A form reading its design does this for every component it creates.
    void BeginLoading();
    virtual void Loaded();

    // Takes AComponent into this component's ownership (or gives it up) and tells the components
    // that care. The constructor and destructor do this; call it directly only to change owners.
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);
    // Frees every owned component, last created first.
    void DestroyComponents();

    // Asks to be told through Notification(AComponent, opRemove) when AComponent is destroyed,
    // whoever owns it. The request is mutual, so either side may go first.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    // Called for components inserted into or removed from this component's ownership (and passed on
    // to every owned component), and for components this one asked FreeNotification about.
    // Overrides call the inherited version.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

    // Raises one of this component's events with the component itself as Sender.
    template <class... Args, class... P> void Raise(const TEvent<TObject*, Args...>& Event, P&&... Params) {
        RaiseEvent(Event, static_cast<TObject*>(this), std::forward<P>(Params)...);
    }

private:
    void Insert(TComponent* AComponent);
    void Remove(TComponent* AComponent);
    static void Forget(std::vector<TComponent*>& List, TComponent* AComponent);

    TComponent* FOwner = nullptr;
    std::string FName;
    TComponentState FComponentState;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};
