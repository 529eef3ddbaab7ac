#pragma once

#include "companions/Companions.h"
#include "platform/Tray.h"
#include "sampling/TickCollaborators.h"

namespace quantiro::companions {

// The companion programs, the limit watcher and the updater are not started yet:
// each start does nothing, as a missing companion does.
class PendingCompanions final : public Companions,
                                public sampling::LimitWatcher,
                                public sampling::UpdateCheck,
                                public platform::TrayIcon {
public:
    void MonitorStart() override {}
    void MonitorStop() override {}
    void StatisticsStart() override {}
    void OptionsShow() override {}
    void RaportShow() override {}
    void VariantStart(std::int16_t) override {}
    void CheckLimitDLL(bool) override {}
    void CheckForUpdate() override {}
    void Remove() override {}
};

} // namespace quantiro::companions
