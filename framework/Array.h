#pragma once
// Array<T>: the growable array of pointers behind every list of the system
// (connectors of a module, members of a link group, XML children, registry
// entries, loaded libraries).
//
// Growth rules that callers and tests rely on:
//   - a new array has room for 32 elements;
//   - adding beyond the capacity doubles it;
//   - removing the last remaining element resets the array to 32;
//   - storage never shrinks otherwise.
// Storage comes from the C heap so that an array grown by one deliverable can be
// freed by another. When memory runs out the array throws Array<T>::exception
// (value 0) and keeps its previous state. The array never deletes its elements.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// Reallocation used by every Array. Tests replace it to inject allocation
// failures; production code never touches it.
inline void* (*ArrayReallocate)(void* block, std::size_t bytes) = std::realloc;

template <typename T>
class Array {
    static_assert(std::is_trivially_copyable_v<T>, "Array holds pointers or plain values");

public:
    enum exception { OutOfMemory = 0 };
    static constexpr int InitialCapacity = 32;

    Array() { items = Allocate(nullptr, InitialCapacity); }
    ~Array() { std::free(items); }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    int Count() const { return count; }
    int Capacity() const { return capacity; }
    bool IsEmpty() const { return count == 0; }
    T& operator[](int index) { return items[index]; }
    const T& operator[](int index) const { return items[index]; }
    T* begin() { return items; }
    T* end() { return items + count; }
    const T* begin() const { return items; }
    const T* end() const { return items + count; }

    void Add(T element) {
        if (count + 1 > capacity) Grow(count + 1);
        items[count++] = element;
    }

    // Makes room for total elements by the same doubling that Add uses, so the
    // capacity reached is the one that adding them one by one would give. A
    // caller that must not be left half done (a group merge) calls this first.
    void EnsureRoom(int total) {
        if (total > capacity) Grow(total);
    }

    // Removes the element at index; the later elements move down one place.
    void RemoveAt(int index) {
        if (index < 0 || index >= count) return;
        if (count == 1) {
            Reset();
            return;
        }
        std::memmove(items + index, items + index + 1, sizeof(T) * (count - index - 1));
        --count;
    }

    int IndexOf(T element) const {
        for (int i = 0; i < count; ++i)
            if (items[i] == element) return i;
        return -1;
    }
    bool Contains(T element) const { return IndexOf(element) >= 0; }

    // Removes every occurrence of element.
    void Remove(T element) {
        for (int i = count - 1; i >= 0; --i)
            if (items[i] == element) RemoveAt(i);
    }

    // Back to the initial state: no elements, room for 32.
    void Reset() {
        count = 0;
        if (capacity == InitialCapacity) return;
        // Shrinking cannot lose data; should the allocator refuse, the larger
        // block simply stays in use.
        if (void* smaller = ArrayReallocate(items, sizeof(T) * InitialCapacity)) {
            items = static_cast<T*>(smaller);
            capacity = InitialCapacity;
        }
    }

private:
    void Grow(int total) {
        int grown = capacity;
        while (grown < total) {
            if (grown > INT32_MAX / 2) throw OutOfMemory;  // the count could no longer be held
            grown *= 2;
        }
        items = Allocate(items, grown);  // on failure nothing has changed
        capacity = grown;
    }

    static T* Allocate(T* old, int elements) {
        void* block = ArrayReallocate(old, sizeof(T) * static_cast<std::size_t>(elements));
        if (block == nullptr) throw OutOfMemory;
        return static_cast<T*>(block);
    }

    T* items;
    int capacity = InitialCapacity;
    int count = 0;
};
