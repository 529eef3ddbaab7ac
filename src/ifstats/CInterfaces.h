#pragma once

#include "ifstats/CInterface.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quantiro::ifstats {

// An ordered collection of interface records, addressed by position from 1 to Count.
class CInterfaces {
public:
    using Items = std::vector<std::shared_ptr<CInterface>>;

    // Appends the record and returns it. The caller's variable is cleared, so a loop
    // that makes a fresh record whenever its variable is empty never reuses one.
    std::shared_ptr<CInterface> Add(std::shared_ptr<CInterface>& objInterface);

    // Throws std::out_of_range for a position outside 1..Count.
    const std::shared_ptr<CInterface>& Item(std::int32_t vntIndexKey) const;
    std::int32_t Count() const { return static_cast<std::int32_t>(m_items.size()); }
    void Remove(std::int32_t vntIndexKey);
    void Reserve(std::size_t count) { m_items.reserve(count); }

    // Enumeration in position order.
    Items::const_iterator begin() const { return m_items.begin(); }
    Items::const_iterator end() const { return m_items.end(); }

private:
    void CheckPosition(std::int32_t position) const;

    Items m_items;
};

} // namespace quantiro::ifstats
