// Local files that a user or another program may have made hostile: huge, endless, or not
// regular files at all. Each reader gives up at once with its "no value" answer; none waits or
// grows without bound.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "formats/ProfileFile.h"
#include "platform/Registry.h"

namespace velt
{
namespace
{

namespace fs = std::filesystem;

enum class Shape
{
    kRegular,  // small and well-formed
    kHuge,     // past every reader's bound
    kEndless,  // a link to /dev/zero
    kFifo,     // nobody writes to it: opening it for reading would wait for ever
    kFolder,
};

struct HostileFileCase
{
    const char* m_name;
    Shape m_shape;
    LocalFileRead::Status m_status; // of ReadLocalFile with a 1 MiB bound
};

class HostileLocalFileTest : public ::testing::TestWithParam<HostileFileCase>
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("velt-hostile-" + std::string(GetParam().m_name) + "-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Makes the named file in the folder the shape of the case; regular content as given.
    std::string Make(const std::string& name, const std::string& content)
    {
        const std::string path = (m_dir / name).string();
        switch (GetParam().m_shape)
        {
        case Shape::kRegular:
            std::ofstream(path, std::ios::binary) << content;
            break;
        case Shape::kHuge:
        {
            std::ofstream out(path, std::ios::binary);
            out << content;
            out.seekp(80 * 1024 * 1024); // sparse: large, but cheap to make
            out << '\n';
            break;
        }
        case Shape::kEndless:
            fs::create_symlink("/dev/zero", path);
            break;
        case Shape::kFifo:
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
            break;
        case Shape::kFolder:
            fs::create_directories(path);
            break;
        }
        return path;
    }

    fs::path m_dir;
};

TEST_P(HostileLocalFileTest, ReadersGiveUpAtOnceAndKeepTheirBounds)
{
    const auto& c = GetParam();
    const bool regular = c.m_shape == Shape::kRegular;

    const std::string any = Make("any.bin", "abc");
    const LocalFileRead read = ReadLocalFile(any, 1024 * 1024);
    EXPECT_EQ(read.m_status, c.m_status);
    EXPECT_EQ(read.m_bytes, regular ? "abc" : "");

    // VELT.ini: the default value; writing leaves anything but a regular file alone.
    const std::string ini = Make("VELT.ini", "[SETTINGS]\r\nwarcraftpath=C:\\War3\\\r\n");
    EXPECT_EQ(GetPrivateProfileString("SETTINGS", "warcraftpath", "none", 64, ini),
              regular ? "C:\\War3\\" : "none");
    const bool wrote = WritePrivateProfileString("SETTINGS", "windowmode", "1", ini);
    EXPECT_EQ(wrote, c.m_shape != Shape::kFifo && c.m_shape != Shape::kFolder &&
                         c.m_shape != Shape::kEndless);
    if (c.m_shape == Shape::kFifo)
    {
        EXPECT_TRUE(fs::is_fifo(ini));
    }

    // Wine's user registry: no value.
    Make("user.reg", "[Software\\\\Blizzard Entertainment\\\\Warcraft III] 1\n"
                     "\"InstallPathX\"=\"C:\\\\War3\"\n");
    const auto value = ReadWineUserRegistryString(m_dir.string(),
                                                  "Software\\Blizzard Entertainment\\Warcraft III",
                                                  "InstallPathX", 255);
    EXPECT_EQ(value.has_value(), regular);
    if (value)
    {
        EXPECT_EQ(*value, "C:\\War3");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, HostileLocalFileTest,
    ::testing::Values(HostileFileCase{"regular", Shape::kRegular, LocalFileRead::Status::kRead},
                      HostileFileCase{"huge", Shape::kHuge, LocalFileRead::Status::kTooLarge},
                      HostileFileCase{"endless", Shape::kEndless, LocalFileRead::Status::kNotRegular},
                      HostileFileCase{"fifo", Shape::kFifo, LocalFileRead::Status::kNotRegular},
                      HostileFileCase{"folder", Shape::kFolder, LocalFileRead::Status::kNotRegular}),
    [](const auto& info) { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
