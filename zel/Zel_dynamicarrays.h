#pragma once
// Index and string arrays, and the builder every index list is collected with.

#include "Zel_base.h"
#include "Zel_translations.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TIntegerDynArray = std::vector<int>;
using TStringDynArray = std::vector<std::string>;

class EDynamicArrayError : public Exception {
public:
    using Exception::Exception;
};

// Collects items into an array that grows by half its length. Callers that
// know the final size set it with SetCapacity first, so nothing grows.
template <typename T>
class TDynamicArrayBuilder {
public:
    TDynamicArrayBuilder() = default;
    virtual ~TDynamicArrayBuilder() = default;

    // Appends value and returns its position.
    virtual int Add(const T& value);
    // Forgets every item and the room they had; a capacity set while the
    // builder is empty stays.
    virtual void Clear();
    // Makes room for one more item: 8, 12, 18, 27, 40, 60, ...
    virtual void Grow();
    // The items added so far; the builder is cleared.
    virtual std::vector<T> Extract();

    // Sets the room to exactly capacity; EDynamicArrayError when that is
    // fewer than the items added (the builder is then unchanged).
    void SetCapacity(int capacity);
    // A copy of the items added so far.
    std::vector<T> ToArray() const;

    int Capacity() const noexcept { return static_cast<int>(FItems.size()); }
    int Count() const noexcept { return FCount; }

protected:
    std::vector<T> FItems; // its length is the capacity
    int FCount = 0;

private:
    void Reallocate(int capacity);
};

template <typename T>
int TDynamicArrayBuilder<T>::Add(const T& value)
{
    Grow();
    FItems[static_cast<std::size_t>(FCount)] = value;
    return FCount++;
}

template <typename T>
void TDynamicArrayBuilder<T>::Clear()
{
    if (FCount == 0)
        return;
    FCount = 0;
    FItems = std::vector<T>();
}

template <typename T>
void TDynamicArrayBuilder<T>::Grow()
{
    const int length = Capacity();
    if (length > FCount)
        return;
    if (length == INT_MAX)
        throw EDynamicArrayError(Tr("The program cannot set the capacity."));
    const std::int64_t grown = length < 8 ? 8 : std::int64_t(length) * 3 / 2;
    Reallocate(static_cast<int>(std::min<std::int64_t>(grown, INT_MAX)));
}

template <typename T>
std::vector<T> TDynamicArrayBuilder<T>::Extract()
{
    // Hands over the builder's own storage instead of copying it.
    std::vector<T> result;
    if (FCount != 0) {
        FItems.resize(static_cast<std::size_t>(FCount));
        result.swap(FItems);
    }
    Clear();
    return result;
}

template <typename T>
void TDynamicArrayBuilder<T>::SetCapacity(int capacity)
{
    if (capacity < FCount)
        throw EDynamicArrayError(Tr("The program cannot set the capacity."));
    if (capacity != Capacity())
        Reallocate(capacity);
}

template <typename T>
std::vector<T> TDynamicArrayBuilder<T>::ToArray() const
{
    return std::vector<T>(FItems.begin(), FItems.begin() + FCount);
}

// A new array of exactly that length, so the length is the memory held; the
// builder stays as it was when the allocation fails.
template <typename T>
void TDynamicArrayBuilder<T>::Reallocate(int capacity)
{
    std::vector<T> items(static_cast<std::size_t>(capacity));
    std::copy(FItems.begin(), FItems.begin() + FCount, items.begin());
    FItems.swap(items);
}

// The items of a string list, in order.
TStringDynArray StringsToArray(const std::vector<std::string>& strings);
// Replaces the string list's content with the array's items in one step.
void ArrayToStrings(const TStringDynArray& array, std::vector<std::string>& strings);
// Lines ending at CR, LF or CR LF; text after the last break is a line when
// not empty; a NUL ends the text.
TStringDynArray TextToArray(std::string_view text);
// The array without its zero-length items, order kept.
TStringDynArray RemoveEmptyStrings(TStringDynArray array);
