#pragma once
// Method-pointer events: an object and one of its methods, bound by the owner of a component and
// raised by the component with itself as Sender. An event counts as assigned exactly when something
// is bound. Binding a method allocates nothing and copying an event copies a few words, so a component
// may raise events from a hot path (a receive tick) without touching the heap.

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class TObject;

template <class... Args> class TEvent {
public:
    TEvent() = default;
    TEvent(std::nullptr_t) {}

    // Object->*Method. The method may belong to a base class of the object's class.
    template <class TObj, class TClass>
    TEvent(TObj* Object, void (TClass::*Method)(Args...)) : FObject(static_cast<TClass*>(Object)) {
        using TMethod = void (TClass::*)(Args...);
        static_assert(sizeof(TMethod) <= sizeof(FMethod), "method pointer does not fit the event");
        std::memcpy(FMethod, &Method, sizeof(TMethod));
        FThunk = [](const TEvent& Self, Args... A) {
            TMethod M;
            std::memcpy(&M, Self.FMethod, sizeof(TMethod));
            (static_cast<TClass*>(Self.FObject)->*M)(std::forward<Args>(A)...);
        };
    }

    // Anything callable, for code that has no object to bind (tests, small adapters).
    template <class F> static TEvent Function(F&& Callable) {
        TEvent E;
        E.FFunction = std::make_shared<std::function<void(Args...)>>(std::forward<F>(Callable));
        E.FThunk = [](const TEvent& Self, Args... A) { (*Self.FFunction)(std::forward<Args>(A)...); };
        return E;
    }

    bool Assigned() const { return FThunk != nullptr; }
    explicit operator bool() const { return Assigned(); }
    void* Object() const { return FObject; }

    void operator()(Args... A) const {
        if (FThunk)
            FThunk(*this, std::forward<Args>(A)...);
    }

    bool operator==(std::nullptr_t) const { return !Assigned(); }

private:
    using TThunk = void (*)(const TEvent&, Args...);

    void* FObject = nullptr;
    // Room for any member-function pointer, including those of classes with virtual bases. Bytes,
    // copied in and out with memcpy, so any alignment will do. Not std::max_align_t's: in the
    // 32-bit MinGW toolchain that is 8 or 16 depending on which standard header a file includes
    // first, and every class holding an event would have two layouts.
    unsigned char FMethod[4 * sizeof(void*)] = {};
    TThunk FThunk = nullptr;
    std::shared_ptr<std::function<void(Args...)>> FFunction;
};

// Raises an event when it is assigned. The copy keeps the binding alive should the handler rebind
// or clear the very event that is calling it.
template <class... Args, class... P> void RaiseEvent(const TEvent<Args...>& Event, P&&... Params) {
    if (Event.Assigned()) {
        const TEvent<Args...> Copy = Event;
        Copy(std::forward<P>(Params)...);
    }
}

using TNotifyEvent = TEvent<TObject*>;
