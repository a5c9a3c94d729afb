// The names of the methods, lights and fits, which the library alone
// spells: every one of them must reach the places users read them, and the
// programs must take and refuse them as the library says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qlx.h"
#include "test_support.hpp"

namespace qlx {
namespace {

using test::run_program;

const std::string palquant = PALQUANT_PATH;

// Every name an enum has, asked from value 0 until the library has none.
template <class Enum>
std::vector<std::string> names_of(const char* (*name_of)(Enum)) {
    std::vector<std::string> names;
    for (int value = 0; name_of(static_cast<Enum>(value)) != nullptr; ++value) {
        names.emplace_back(name_of(static_cast<Enum>(value)));
    }
    return names;
}

// A source file as text, with the manual pages' escaped hyphens as hyphens.
std::string document(const char* relative) {
    const test::Bytes bytes = test::read_file(std::string(PAL_SOURCE_DIR) + "/" + relative);
    std::string text(bytes.begin(), bytes.end());
    for (std::size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at)) text.erase(at, 1);
    return text;
}

TEST(Vocabulary, NamesReadBackToTheirValuesAndNothingElseDoes) {
    const std::vector<std::string> dithers = names_of(qlx_dither_name);
    ASSERT_EQ(dithers.size(), 11u);
    for (std::size_t value = 0; value < dithers.size(); ++value) {
        qlx_dither dither = QLX_DITHER_NONE;
        EXPECT_EQ(qlx_dither_from_name(dithers[value].c_str(), &dither), QLX_OK);
        EXPECT_EQ(dither, static_cast<qlx_dither>(value));
    }
    for (std::size_t value = 0; value < names_of(qlx_light_name).size(); ++value) {
        qlx_light light = QLX_LIGHT_SRGB;
        EXPECT_EQ(qlx_light_from_name(qlx_light_name(static_cast<qlx_light>(value)), &light), QLX_OK);
        EXPECT_EQ(light, static_cast<qlx_light>(value));
    }
    for (std::size_t value = 0; value < names_of(qlx_fit_name).size(); ++value) {
        qlx_fit fit = QLX_FIT_KEEP;
        EXPECT_EQ(qlx_fit_from_name(qlx_fit_name(static_cast<qlx_fit>(value)), &fit), QLX_OK);
        EXPECT_EQ(fit, static_cast<qlx_fit>(value));
    }
    qlx_dither untouched = QLX_DITHER_ORDERED;
    for (const char* other : {"", "None", "floyd_steinberg", "floyd-steinberg ", "blue"}) {
        EXPECT_EQ(qlx_dither_from_name(other, &untouched), QLX_UNKNOWN_NAME) << other;
    }
    EXPECT_EQ(untouched, QLX_DITHER_ORDERED);
    EXPECT_EQ(qlx_dither_from_name(nullptr, &untouched), QLX_NULL_POINTER);
    EXPECT_EQ(qlx_dither_from_name("none", nullptr), QLX_NULL_POINTER);
    EXPECT_EQ(qlx_dither_name(static_cast<qlx_dither>(-1)), nullptr);
    EXPECT_EQ(qlx_fit_name(static_cast<qlx_fit>(4)), nullptr);
}

TEST(Vocabulary, TheDocumentsAndTheHelpNameEveryMethodAndLight) {
    const std::string help = run_program(palquant, {"--help"}).out;
    const std::string refusal = run_program(palquant, {"--dither=sparkle", "a.bmp", "a.qlx"}).out;
    const std::string light_refusal = run_program(palquant, {"--dither-light=dim", "a.bmp", "a.qlx"}).out;
    const std::string readme = document("README.md");
    const std::string manual = document("docs/palquant.1");
    const std::string library_manual = document("docs/qlx.3");
    for (const std::string& name : names_of(qlx_dither_name)) {
        EXPECT_NE(help.find(name), std::string::npos) << "--help leaves out " << name;
        EXPECT_NE(refusal.find(name), std::string::npos) << "the --dither refusal leaves out " << name;
        EXPECT_NE(readme.find(name), std::string::npos) << "README.md leaves out " << name;
        EXPECT_NE(manual.find(name), std::string::npos) << "palquant(1) leaves out " << name;
        EXPECT_NE(library_manual.find("\"" + name + "\""), std::string::npos) << "qlx(3) leaves out " << name;
    }
    for (const std::string& name : names_of(qlx_light_name)) {
        EXPECT_NE(help.find(name), std::string::npos) << "--help leaves out " << name;
        EXPECT_NE(light_refusal.find(name), std::string::npos) << "the --dither-light refusal leaves out " << name;
        EXPECT_NE(manual.find(name), std::string::npos) << "palquant(1) leaves out " << name;
        EXPECT_NE(library_manual.find("\"" + name + "\""), std::string::npos) << "qlx(3) leaves out " << name;
    }
    for (const std::string& name : names_of(qlx_fit_name)) {
        EXPECT_NE(library_manual.find("\"" + name + "\""), std::string::npos) << "qlx(3) leaves out " << name;
    }
}

#ifdef QLX_PATH
TEST(Vocabulary, QlxHelpAndManualNameEveryMethodLightAndFit) {
    const std::string help = run_program(QLX_PATH, {"convert", "--help"}).out;
    const std::string manual = document("docs/qlx.1");
    for (const auto& names : {names_of(qlx_dither_name), names_of(qlx_light_name), names_of(qlx_fit_name)}) {
        for (const std::string& name : names) {
            EXPECT_NE(help.find(name), std::string::npos) << "qlx convert --help leaves out " << name;
            EXPECT_NE(manual.find(name), std::string::npos) << "qlx(1) leaves out " << name;
        }
    }
}
#endif

// Every method name the library gives is one palquant takes.
TEST(Vocabulary, PalquantTakesEveryMethodAndLightByItsName) {
    test::TempDir dir;
    const std::string bmp = std::string(PAL_SAMPLE_BMP);
    for (const std::string& method : names_of(qlx_dither_name)) {
        for (const std::string& light : names_of(qlx_light_name)) {
            const auto run = run_program(
                palquant, {"--dither=" + method, "--dither-light=" + light, bmp, (dir / "out.qlx").string()});
            EXPECT_EQ(run.status, 1) << method << ", " << light << ": " << run.out;
        }
    }
}

}  // namespace
}  // namespace qlx
