#pragma once

#include "companions/Companions.h"
#include "sampling/TickCollaborators.h"

namespace quantiro::messages {

// The once-per-run start of the family's updater, after ten minutes of sampling
// with automatic updating on (the tick counts the firings).
class UpdateChecker final : public sampling::UpdateCheck {
public:
    explicit UpdateChecker(companions::Companions& companions)
        : m_companions(companions) {}
    void CheckForUpdate() override;

private:
    companions::Companions& m_companions;
};

} // namespace quantiro::messages
