#include "platform/UserNotice.h"

#include <cstdio>

namespace velt
{

void CStderrNotice::Notify(std::string_view text)
{
    std::lock_guard lock(m_mutex);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

CStderrNotice& CStderrNotice::Instance()
{
    static CStderrNotice notice;
    return notice;
}

} // namespace velt
