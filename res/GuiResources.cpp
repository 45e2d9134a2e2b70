#include "res/GuiResources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterVeltResources()
{
    Q_INIT_RESOURCE(veltplayer);
}

namespace velt
{

void InitGuiResources()
{
    static std::once_flag once;
    std::call_once(once, RegisterVeltResources);
}

} // namespace velt
