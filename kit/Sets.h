#pragma once
// A set of enumeration values held in the bits of one integer: value N is bit 1 << N. Component
// states, modem lines and the like are such sets.

#include <cstdint>
#include <initializer_list>
#include <type_traits>

template <class E, class TBits = std::uint32_t> class TSet {
    static_assert(std::is_enum_v<E>, "a set holds enumeration values");

public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> Items) {
        for (E Item : Items)
            Include(Item);
    }

    static constexpr TSet FromBits(TBits Bits) {
        TSet S;
        S.FBits = Bits;
        return S;
    }
    constexpr TBits Bits() const { return FBits; }

    constexpr bool Contains(E Item) const { return (FBits & Bit(Item)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr TSet& Include(E Item) {
        FBits = static_cast<TBits>(FBits | Bit(Item));
        return *this;
    }
    constexpr TSet& Exclude(E Item) {
        FBits = static_cast<TBits>(FBits & ~Bit(Item));
        return *this;
    }

    friend constexpr TSet operator+(TSet A, TSet B) {
        return FromBits(static_cast<TBits>(A.FBits | B.FBits));
    }
    friend constexpr TSet operator*(TSet A, TSet B) {
        return FromBits(static_cast<TBits>(A.FBits & B.FBits));
    }
    friend constexpr TSet operator-(TSet A, TSet B) {
        return FromBits(static_cast<TBits>(A.FBits & ~B.FBits));
    }
    friend constexpr bool operator==(TSet A, TSet B) { return A.FBits == B.FBits; }

private:
    static constexpr TBits Bit(E Item) { return static_cast<TBits>(TBits{1} << static_cast<unsigned>(Item)); }

    TBits FBits = 0;
};
