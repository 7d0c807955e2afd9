#include "link/portmap.h"

namespace tqb9 {

// Only Windows keeps a friendly name for a port; elsewhere Qt's description and maker say it all.
QString PortMap::friendlyName(const QString&)
{
    return {};
}

} // namespace tqb9
