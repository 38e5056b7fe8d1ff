#pragma once

#include "foundation/thread/ScopedLock.h"

namespace velmora {

class AbstractSetup;

/// A run of settings reads as one transaction of setup.db: from
/// construction to the end of the scope it holds the settings' lock and an
/// open transaction, which the destructor commits. Reading a key that is
/// missing stores its default; a first start reads dozens of them, and each
/// would otherwise be a commit of its own, waiting for the disk. Without an
/// open file the reads go on one by one (and fail as they would).
class SetupBatch {
public:
    explicit SetupBatch(AbstractSetup& setup);
    /// Commits; a commit that fails is rolled back (the defaults are then
    /// written again next time). Never throws.
    ~SetupBatch();
    SetupBatch(const SetupBatch&) = delete;
    SetupBatch& operator=(const SetupBatch&) = delete;

private:
    AbstractSetup& m_setup;
    ScopedLock m_lock;
    bool m_begun = false;
};

} // namespace velmora
