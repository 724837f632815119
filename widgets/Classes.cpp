#include "widgets/Classes.h"

namespace vmk {

TComponent::TComponent(TComponent* owner) : owner_(owner) {}

TComponent::~TComponent() { DestroyComponents(); }

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (const auto& c : components_)
        if (c->GetName() == name) return c.get();
    return nullptr;
}

TComponent* TComponent::GetComponent(int index) const {
    if (index < 0 || index >= GetComponentCount()) return nullptr;
    return components_[static_cast<size_t>(index)].get();
}

void TComponent::Adopt(std::unique_ptr<TComponent> component) { components_.push_back(std::move(component)); }

void TComponent::DestroyComponents() {
    // Newest first: children are made after their parents, so they go first.
    while (!components_.empty()) {
        std::unique_ptr<TComponent> last = std::move(components_.back());
        components_.pop_back();
        last.reset();
    }
}

}  // namespace vmk
