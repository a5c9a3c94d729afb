// BMP headers through the library's public calls: the headers it writes,
// and the layouts it reads from every header form.
#include <gtest/gtest.h>

#include "qlx.h"
#include "test_support.hpp"

namespace qlx {
namespace {

using test::BmpRecipe;
using test::Bytes;
using test::make_bmp;

TEST(ExpandedBmpHeaders, AreTheFixedFiftyFourBytes) {
    const Bytes expected = {0x42, 0x4D, 0x36, 0xEE, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
                            0x28, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x01, 0x00,
                            0x18, 0x00, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                            0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
    Bytes headers(QLX_BMP_HEADERS_SIZE + 1, 0xEE);
    ASSERT_EQ(qlx_bmp_headers(QLX_STANDARD_WIDTH, QLX_STANDARD_HEIGHT, headers.data(), headers.size()), QLX_OK);
    EXPECT_EQ(headers.back(), 0xEE) << "wrote past the headers";
    headers.pop_back();
    EXPECT_EQ(headers, expected);
    EXPECT_EQ(qlx_bmp_size(QLX_STANDARD_WIDTH, QLX_STANDARD_HEIGHT), 192054u);
}

struct BmpParse {
    qlx_status status;
    qlx_bmp_layout layout;
};

// The layout of a whole file, as qlx_from_bmp reads it.
BmpParse parse(const Bytes& file) {
    BmpParse parsed{QLX_OK, {}};
    parsed.status = qlx_bmp_read_layout(file.data(), file.size(), file.size(), &parsed.layout);
    return parsed;
}

TEST(ParseBmp, ReadsLayoutOfEveryHeaderFormAndRowOrder) {
    BmpRecipe recipe{.width = 5, .height = 3};
    BmpParse plain = parse(make_bmp(recipe));
    ASSERT_EQ(plain.status, QLX_OK);
    EXPECT_EQ(plain.layout.width, 5u);
    EXPECT_EQ(plain.layout.height, 3u);
    EXPECT_EQ(plain.layout.row_stride, 16u);
    EXPECT_EQ(plain.layout.pixel_offset, 54u);
    EXPECT_FALSE(plain.layout.top_down);

    recipe.top_down = true;
    EXPECT_TRUE(parse(make_bmp(recipe)).layout.top_down);
    EXPECT_EQ(parse(make_bmp(recipe)).layout.height, 3u);

    // The pixels may start right after a longer header, never inside it.
    for (std::uint32_t info_size : {40u, 52u, 56u, 64u, 108u, 124u}) {
        recipe.info_size = info_size;
        Bytes file = make_bmp(recipe);
        const BmpParse extended = parse(file);
        EXPECT_EQ(extended.status, QLX_OK) << info_size;
        EXPECT_EQ(extended.layout.pixel_offset, 14u + info_size);
        test::put_le32(file, 10, 14 + info_size - 1);
        EXPECT_EQ(parse(file).status, QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE) << info_size;
    }
}

// Below 40 bytes only the core header is known; anything else would be read
// as 40 bytes, taking pixels for fields.
TEST(ParseBmp, RefusesInformationHeadersShorterThanFortyBytes) {
    for (std::uint32_t info_size = 0; info_size < 40; ++info_size) {
        if (info_size == 12) continue;
        Bytes file = make_bmp({.width = 2, .height = 2});
        test::put_le32(file, 14, info_size);
        EXPECT_EQ(parse(file).status, QLX_BMP_INFO_HEADER_TOO_SHORT) << info_size;
    }
}

TEST(ParseBmp, ReadsTheCoreHeaderOfOldFiles) {
    Bytes file = make_bmp({.width = 2, .height = 2, .info_size = 12});  // rows of 6 bytes padded to 8
    const BmpParse parsed = parse(file);
    ASSERT_EQ(parsed.status, QLX_OK);
    EXPECT_EQ(parsed.layout.width, 2u);
    EXPECT_EQ(parsed.layout.row_stride, 8u);

    test::put_le16(file, 24, 8);
    EXPECT_EQ(parse(file).status, QLX_BMP_NOT_24_BIT);
}

TEST(ParseBmp, AcceptsEmptyPicturesAndAMissingLastRowPadding) {
    // Empty is 0 x 0, so that no later loop runs over claimed empty rows.
    Bytes two_billion_empty_rows = make_bmp({.width = 0, .height = 7});
    test::put_le32(two_billion_empty_rows, 22, 0x7FFFFFFF);
    for (const Bytes& file : {make_bmp({.width = 9, .height = 0}), two_billion_empty_rows,
                              make_bmp({.width = 0, .height = 5, .top_down = true})}) {
        const BmpParse parsed = parse(file);
        EXPECT_EQ(parsed.status, QLX_OK);
        EXPECT_EQ(parsed.layout.width, 0u);
        EXPECT_EQ(parsed.layout.height, 0u);
    }
    Bytes file = make_bmp({.width = 1, .height = 2});
    file.pop_back();  // 1 of the 2 padding bytes of the last row
    EXPECT_EQ(parse(file).status, QLX_OK);
}

TEST(ParseBmp, RefusesEachKindOfBrokenHeader) {
    const Bytes good = make_bmp({.width = 4, .height = 4});
    EXPECT_EQ(parse(Bytes(good.begin(), good.begin() + 20)).status, QLX_BMP_HEADERS_CUT_SHORT);
    EXPECT_EQ(parse(Bytes(good.begin(), good.begin() + 40)).status, QLX_BMP_HEADERS_CUT_SHORT);
    EXPECT_EQ(parse({}).status, QLX_BMP_HEADERS_CUT_SHORT);

    // The bit count is judged before anything else it could contradict.
    Bytes eight_bit = make_bmp({.width = -4, .height = 4, .bit_count = 8});
    EXPECT_EQ(parse(Bytes(eight_bit.begin(), eight_bit.begin() + 30)).status, QLX_BMP_NOT_24_BIT);
    EXPECT_EQ(parse(eight_bit).status, QLX_BMP_NOT_24_BIT);

    EXPECT_EQ(parse(make_bmp({.width = -4, .height = 4})).status, QLX_BMP_NEGATIVE_WIDTH);
    Bytes lowest_height = good;
    test::put_le32(lowest_height, 22, 0x80000000u);
    EXPECT_EQ(parse(lowest_height).status, QLX_BMP_HEIGHT_OUT_OF_RANGE);
    EXPECT_EQ(parse(make_bmp({.width = 4, .height = 4, .compression = 1})).status, QLX_BMP_COMPRESSED);
    EXPECT_EQ(parse(make_bmp({.width = 4, .height = 4, .compression = 3})).status, QLX_BMP_COMPRESSED);

    Bytes inside_headers = good;
    test::put_le32(inside_headers, 10, 53);
    EXPECT_EQ(parse(inside_headers).status, QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE);
    Bytes inside_v5_header = make_bmp({.width = 4, .height = 4, .info_size = 124});
    test::put_le32(inside_v5_header, 10, 54);
    EXPECT_EQ(parse(inside_v5_header).status, QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE);
    Bytes past_end = good;
    test::put_le32(past_end, 10, static_cast<std::uint32_t>(good.size() + 1));
    EXPECT_EQ(parse(past_end).status, QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE);
}

TEST(ParseBmp, RefusesPixelDataCutShortWhateverTheClaimedSize) {
    Bytes short_by_one = make_bmp({.width = 4, .height = 4});
    short_by_one.pop_back();
    EXPECT_EQ(parse(short_by_one).status, QLX_BMP_PIXEL_DATA_CUT_SHORT);

    // Row padding counts for every row but the last.
    Bytes unpadded = make_bmp({.width = 5, .height = 3, .pad_rows = false});
    EXPECT_EQ(parse(unpadded).status, QLX_BMP_PIXEL_DATA_CUT_SHORT);

    Bytes largest = make_bmp({.width = 4, .height = 4});
    test::put_le32(largest, 18, 0x7FFFFFFFu);
    test::put_le32(largest, 22, 0x7FFFFFFFu);
    EXPECT_EQ(parse(largest).status, QLX_BMP_PIXEL_DATA_CUT_SHORT);
    test::put_le32(largest, 22, 0x80000001u);  // top-down, just as large
    EXPECT_EQ(parse(largest).status, QLX_BMP_PIXEL_DATA_CUT_SHORT);

    EXPECT_EQ(parse(test::read_file(test::data_path("bmpsuite/b/reallybig.bmp"))).status, QLX_BMP_PIXEL_DATA_CUT_SHORT);
}

}  // namespace
}  // namespace qlx
