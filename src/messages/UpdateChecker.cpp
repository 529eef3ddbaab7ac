#include "messages/UpdateChecker.h"

#include "messages/MessageFeed.h"

namespace quantiro::messages {

void UpdateChecker::CheckForUpdate() {
    ClearUpdateCache();
    m_companions.UpdaterStart();
}

} // namespace quantiro::messages
