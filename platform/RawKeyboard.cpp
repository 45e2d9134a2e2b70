#include "platform/RawKeyboard.h"

#include "platform/RawKeyboardSystem.h"
#include "platform/StopSignal.h"

namespace velt
{

bool CRawKeyboard::Open()
{
    if (m_open)
        return true;
    if (!SaveTerminalModes())
        return false;
    // Registered before the modes change: a stop request in between still restores them.
    SetStopRestore(&RestoreTerminalModes);
    if (!EnterRawModes())
    {
        SetStopRestore(nullptr);
        RestoreTerminalModes();
        return false;
    }
    m_open = true;
    return true;
}

void CRawKeyboard::Close()
{
    if (!m_open)
        return;
    m_open = false;
    SetStopRestore(nullptr);
    RestoreTerminalModes();
}

} // namespace velt
