// Opens the pictures of a real run with a decoder of someone else's: Pillow,
// as Debian packages it for its own Python. It must find the size, the
// orientation and the colours where a viewer would show them.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;
using testing::temp_folder;

// Debian's Python, which python3-pil serves; another python3 on the path
// may not have Pillow.
const std::string debian_python = "/usr/bin/python3";

bool pillow_available()
{
    try {
        return std::filesystem::exists(debian_python) &&
               testing::run_program(debian_python, {"-c", "import PIL.BmpImagePlugin"}).exit_code == 0;
    } catch (const std::exception&) {
        return false; // no way to start it here
    }
}

struct shown_pixel {
    int x;
    int y;
    int red;
    int green;
    int blue;
};

struct picture_case {
    const char* suffix;
    std::vector<shown_pixel> expected;
};

std::string as_argument(const shown_pixel& pixel)
{
    return std::to_string(pixel.x) + "," + std::to_string(pixel.y) + "," + std::to_string(pixel.red) + "," +
           std::to_string(pixel.green) + "," + std::to_string(pixel.blue);
}

// Marks three corners of the map so that a picture upside down or mirrored
// shows the wrong colour there.
sb::save_description corner_marked_save()
{
    sb::save_description save = sb::empty_save();
    save.pass_layer.fill(1);
    save.pass_layer[0] = 2;                          // (0, 0): water
    save.pass_layer[map_side - 1] = 8;               // (111, 0): blocked
    save.pass_layer[map_cell_count - 1] = 4;         // (111, 111): coast
    save.resource_layer[0] = 33;                     // (0, 0): raw material, level 1
    save.resource_layer[2 * (map_side - 1)] = 80;    // (111, 0): fuel, level 16
    save.resource_layer[2 * (map_cell_count - 1)] = 144; // (111, 111): gold, level 16
    save.resource_layer[1] = 12;                     // (0, 0): gray and blue flags
    save.resource_layer[2 * map_side * (map_side - 1) + 1] = 32; // (0, 111): red flag
    save.resource_layer[2 * (map_cell_count - 1) + 1] = 60;      // (111, 111): all four flags
    return save;
}

TEST(pillow, decodes_the_three_pictures_of_a_run)
{
    if (!pillow_available()) {
        GTEST_SKIP() << "Pillow for " << debian_python << " is not installed (python3-pil)";
    }
    temp_folder folder;
    const auto save = folder.file("corners.sav");
    testing::write_file(save, sb::build_save(corner_marked_save()));
    const auto run = testing::run_inspector({save});
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    ASSERT_EQ(run.standard_error, "");

    const std::vector<picture_case> cases{
        {"_pass.bmp",
         {{0, 0, 0, 0, 255}, {7, 7, 0, 0, 255}, {8, 0, 0, 255, 0}, {0, 8, 0, 255, 0},
          {888, 0, 128, 128, 128}, {895, 7, 128, 128, 128}, {887, 0, 0, 255, 0},
          {888, 888, 150, 75, 0}, {895, 895, 150, 75, 0}, {887, 895, 0, 255, 0}, {0, 895, 0, 255, 0}}},
        {"_rm1.bmp",
         {{0, 0, 0, 136, 0}, {7, 7, 0, 136, 0}, {8, 8, 0, 0, 0},
          {895, 0, 248, 248, 0}, {888, 7, 248, 248, 0}, {0, 895, 0, 0, 0},
          {895, 895, 248, 248, 248}, {888, 888, 248, 248, 248}, {895, 887, 0, 0, 0}}},
        {"_rm2.bmp",
         {{0, 0, 64, 64, 191}, {7, 7, 64, 64, 191}, {0, 8, 0, 0, 0},
          {0, 895, 255, 0, 0}, {7, 888, 255, 0, 0}, {895, 0, 0, 0, 0},
          {895, 895, 143, 80, 48}, {888, 888, 143, 80, 48}, {887, 895, 0, 0, 0}}},
    };
    const std::string checker = ORBSE_PILLOW_CHECKER;
    for (const auto& entry : cases) {
        std::vector<std::string> arguments{checker, save + entry.suffix};
        for (const auto& pixel : entry.expected) {
            arguments.push_back(as_argument(pixel));
        }
        const auto check = testing::run_program(debian_python, arguments);
        EXPECT_EQ(check.exit_code, 0) << entry.suffix << ":\n" << check.standard_output << check.standard_error;
    }
}

} // namespace
} // namespace orbse
