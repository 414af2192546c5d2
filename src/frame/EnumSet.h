// TEnumSet: a set of the values of a small enumeration (a bit per value,
// each value's bit is its position), as the option and watch sets use.
#pragma once

#include <initializer_list>

namespace kes {

template <typename E, int Count> class TEnumSet {
    static_assert(Count > 0 && Count <= 32, "a set holds at most 32 values");

public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> items)
    {
        for (E e : items)
            FBits |= Bit(e);
    }
    static constexpr TEnumSet All() { return FromBits(kAll); }
    static constexpr TEnumSet FromBits(unsigned bits)
    {
        TEnumSet s;
        s.FBits = bits & kAll;
        return s;
    }
    constexpr unsigned Bits() const { return FBits; }
    constexpr bool Contains(E e) const { return int(e) >= 0 && int(e) < Count && (FBits & Bit(e)); }
    constexpr bool IsEmpty() const { return FBits == 0; }
    constexpr TEnumSet& Include(E e)
    {
        FBits |= Bit(e);
        return *this;
    }
    constexpr TEnumSet& Exclude(E e)
    {
        FBits &= ~Bit(e);
        return *this;
    }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr unsigned kAll = Count == 32 ? ~0u : (1u << Count) - 1;
    static constexpr unsigned Bit(E e) { return 1u << unsigned(e); }
    unsigned FBits = 0;
};

} // namespace kes
