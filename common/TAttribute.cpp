#include "TAttribute.h"

void FreeAttributeList(_TAttribute* head) noexcept {
    while (head != nullptr) {
        _TAttribute* next = head->Next;
        delete head;
        head = next;
    }
}
