#include "kxcef/js_callback.h"

bool CCEF3JSDelegateList::Add(const CCEF3JSDelegateBase& delegate) {
    for (const auto& item : items_)
        if (item->Equals(delegate)) return false;
    std::unique_ptr<CCEF3JSDelegateBase> copy(delegate.Clone());
    if (!copy) return false;
    items_.push_back(std::move(copy));
    return true;
}
