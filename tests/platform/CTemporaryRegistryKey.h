#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace velt
{

// A key of the current user that exists for one test; the value is written as REG_SZ, or not
// at all when absent.
class CTemporaryRegistryKey
{
public:
    explicit CTemporaryRegistryKey(std::wstring path) : m_path(std::move(path))
    {
        HKEY probe = nullptr;
        m_existed = ::RegOpenKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &probe) ==
                    ERROR_SUCCESS;
        if (probe != nullptr)
            ::RegCloseKey(probe);
        if (!m_existed)
            m_created = ::RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0,
                                          KEY_SET_VALUE, nullptr, &m_key, nullptr) == ERROR_SUCCESS;
    }
    CTemporaryRegistryKey(const CTemporaryRegistryKey&) = delete;
    CTemporaryRegistryKey& operator=(const CTemporaryRegistryKey&) = delete;
    ~CTemporaryRegistryKey()
    {
        if (m_key != nullptr)
            ::RegCloseKey(m_key);
        if (m_created)
            ::RegDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str());
    }
    // False when the key was there before: a real installation's key is never touched.
    bool Usable() const { return m_created; }
    void Set(const wchar_t* name, const std::wstring& value)
    {
        ::RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    std::wstring m_path;
    HKEY m_key = nullptr;
    bool m_existed = false;
    bool m_created = false;
};

} // namespace velt
