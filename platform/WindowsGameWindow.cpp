// Finds the game's top-level window by its exact title and brings it to the front.
#include <windows.h>

#include "platform/GameLauncher.h"
#include "platform/WideText.h"

namespace velt
{

namespace
{

class CWindowsGameWindow final : public IGameWindow
{
public:
    bool RaiseWindowTitled(const std::string& title) override
    {
        const std::wstring wide = WideFromUtf8(title);
        const HWND window = ::FindWindowW(nullptr, wide.c_str());
        if (window == nullptr)
            return false;
        ::SetForegroundWindow(window);
        ::ShowWindow(window, SW_RESTORE);
        return true;
    }
};

} // namespace

IGameWindow& SystemGameWindow()
{
    static CWindowsGameWindow window;
    return window;
}

} // namespace velt
