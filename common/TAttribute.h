#pragma once
// One attribute of a tag, in a singly linked list in the order written.
// Name and Value are owned NUL-terminated byte strings.

#include <memory>

struct _TAttribute {
    std::unique_ptr<char[]> Name;
    std::unique_ptr<char[]> Value; // never empty when recorded; null means absent
    _TAttribute* Next = nullptr;   // owned by the tag that heads the list

    _TAttribute() = default;
    _TAttribute(const _TAttribute&) = delete;
    _TAttribute& operator=(const _TAttribute&) = delete;
};

// Frees a whole list iteratively, so a tag with very many attributes cannot
// exhaust the stack.
void FreeAttributeList(_TAttribute* head) noexcept;
