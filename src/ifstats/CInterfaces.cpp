#include "ifstats/CInterfaces.h"

#include <stdexcept>
#include <string>

namespace quantiro::ifstats {

std::shared_ptr<CInterface> CInterfaces::Add(std::shared_ptr<CInterface>& objInterface) {
    m_items.push_back(std::move(objInterface));
    objInterface.reset();
    return m_items.back();
}

void CInterfaces::CheckPosition(std::int32_t position) const {
    if (position < 1 || position > Count()) {
        throw std::out_of_range("interface position " + std::to_string(position) + " outside 1.." +
                                std::to_string(Count()));
    }
}

const std::shared_ptr<CInterface>& CInterfaces::Item(std::int32_t vntIndexKey) const {
    CheckPosition(vntIndexKey);
    return m_items[static_cast<std::size_t>(vntIndexKey - 1)];
}

void CInterfaces::Remove(std::int32_t vntIndexKey) {
    CheckPosition(vntIndexKey);
    m_items.erase(m_items.begin() + (vntIndexKey - 1));
}

} // namespace quantiro::ifstats
