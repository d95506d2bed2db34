/// \file
/// Storage policy of QvMapEx: the node pool that a map draws its entries from, either its own
/// (the usual case) or one shared with other maps (all object maps of one JSON document).
#pragma once

#include <memory>
#include <string>
#include <utility>

#include <tavrin/export.h>
#include <tavrin/qvplexmanager.h>

/// TMap: the map class (it provides GetCount()); TAssoc: its entry type.
template <class TMap, class TAssoc, int N1 = 0, int N2 = 0, class TSize = unsigned int>
class QvMapPolicyPlexManager {
public:
    using PlexManager = QvPlexManager<TAssoc, N1, N2, TSize>;  ///< the pool type

    /// Makes the map draw its entries from `pool` (a null pool: from its own pool again). The
    /// old shared reference is released. Throws QvExceptionContainer
    /// ("...QvMapPolicyPlexManager<...>::SetPlexManager") when the map holds entries; the map
    /// then keeps its pool.
    void SetPlexManager(std::shared_ptr<PlexManager> pool) {
        if (static_cast<const TMap*>(this)->GetCount() != 0) {
            QvDetail::RaiseContainerFailure(
                QvDetail::EContainerFailure::PoolReplacedOnNonEmptyMap,
                QvDetail::TemplateName(
                    "QvMapPolicyPlexManager",
                    {QvDetail::TypeName<TMap>(), QvDetail::TypeName<TAssoc>(), std::to_string(N1),
                     std::to_string(N2), QvDetail::TypeName<TSize>()}) +
                    "::SetPlexManager");
        }
        m_pPool = pool ? pool.get() : &m_own;
        m_shared = std::move(pool);
    }

    /// The pool in use (the map's own one or the shared one).
    PlexManager& GetPlexManager() noexcept { return *m_pPool; }
    /// The pool in use, read-only.
    const PlexManager& GetPlexManager() const noexcept { return *m_pPool; }

    QvMapPolicyPlexManager(const QvMapPolicyPlexManager&) = delete;
    QvMapPolicyPlexManager& operator=(const QvMapPolicyPlexManager&) = delete;

protected:
    /// Throws QvExceptionContainer when `blockSize` is 0.
    explicit QvMapPolicyPlexManager(TSize blockSize) : m_own(blockSize), m_pPool(&m_own) {}
    ~QvMapPolicyPlexManager() = default;

    /// Storage for one entry from the pool in use (QvPlexManager::getFreeElement).
    void* AllocateAssociation() { return m_pPool->getFreeElement(); }
    /// Gives storage back to the pool in use; its content must already be destroyed.
    void ReturnAssociation(void* storage) noexcept { m_pPool->ReturnElement(storage); }

private:
    PlexManager m_own;
    std::shared_ptr<PlexManager> m_shared;
    PlexManager* m_pPool;
};
