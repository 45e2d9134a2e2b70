#pragma once
// The owner a fuzzed host reports to: requests go nowhere, ratings are taken, notices are kept.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/IHostOwner.h"
#include "platform/UserNotice.h"

namespace velt::fuzz
{

class CQuietOwner final : public IHostOwner
{
public:
    explicit CQuietOwner(bool mapExists = true) : m_mapExists(mapExists) {}
    void RequestGameData(std::uint32_t, std::uint32_t) override {}
    bool MapFileExists(const std::string&) override { return m_mapExists; }
    void SubmitRating(std::uint32_t, std::uint8_t) override {}
    ChatDisplaySwitches& DisplaySwitches() override { return m_switches; }
    IUserNotice& Notices() override { return m_notices; }

private:
    bool m_mapExists;
    ChatDisplaySwitches m_switches;
    CRecordingNotice m_notices;
};

} // namespace velt::fuzz
