// A stand-in for war3.exe in the launcher tests: notes how it was started in "launches.txt"
// beside itself, then shows a top-level window titled "Warcraft III" until it is closed (or
// for two minutes at most, so that a failed test never leaves it behind).
#include <windows.h>

#include <cstdio>
#include <string>

namespace
{

constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT kGiveUpMs = 120 * 1000;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_TIMER:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void NoteLaunch()
{
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring log(module);
    log.resize(log.find_last_of(L'\\') + 1);
    log += L"launches.txt";
    const std::wstring line = std::wstring(module) + L"|" + ::GetCommandLineW() + L"\n";
    std::string utf8(line.size() * 4, '\0');
    utf8.resize(static_cast<std::size_t>(::WideCharToMultiByte(
        CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(),
        static_cast<int>(utf8.size()), nullptr, nullptr)));
    if (FILE* file = ::_wfopen(log.c_str(), L"ab"))
    {
        std::fwrite(utf8.data(), 1, utf8.size(), file);
        std::fclose(file);
    }
}

} // namespace

int main()
{
    NoteLaunch();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VeltFakeWarcraft";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Warcraft III",
                                    WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 240,
                                    nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 1;
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SetTimer(window, kGiveUpTimer, kGiveUpMs, nullptr);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
