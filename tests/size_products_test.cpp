// Every size the core multiplies out of what it is given, at the exact
// edge: a product equal to the largest size_t fits, one more does not.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "api_checks.hpp"

namespace qlx {
namespace {

constexpr std::size_t most = std::numeric_limits<std::size_t>::max();

// most = 3 * 5 * 17 * 257 * 641 * 65537 * 6700417 (and 2^32 + 1 on 32 bits),
// so it is an exact product of two sides in several ways.
TEST(SizeProducts, AProductOfExactlyTheLargestSizeFits) {
    for (const std::size_t a : {std::size_t{1}, std::size_t{3}, std::size_t{5}, std::size_t{15}, std::size_t{255}}) {
        ASSERT_EQ(most % a, 0u);
        std::size_t product = 0;
        EXPECT_TRUE(api::multiply_fits(a, most / a, product)) << a;
        EXPECT_EQ(product, most);
        EXPECT_TRUE(api::multiply_fits(most / a, a, product)) << a;
        if (a > 1) {
            EXPECT_FALSE(api::multiply_fits(a, most / a + 1, product)) << a;
            EXPECT_FALSE(api::multiply_fits(most / a + 1, a, product)) << a;
        }
    }
    std::size_t product = 7;
    EXPECT_TRUE(api::multiply_fits(0, most, product));
    EXPECT_EQ(product, 0u);
}

// Rows whose last byte is the last byte size_t can count fit; one byte
// more is an overflow, whether it comes from the stride or the row.
TEST(SizeProducts, RowsEndingAtTheLastCountableByteFit) {
    api::PixelRows rows;
    // One row of `most` bytes.
    EXPECT_EQ(api::measure_rows(most, 1, most, std::size_t{1}, rows), QLX_OK);
    EXPECT_EQ(rows.span, most);
    // Two rows of one byte, the second at most - 1: it ends on the last countable byte.
    const std::size_t row = 1, stride = most - row;
    EXPECT_EQ(api::measure_rows(row, 2, stride, std::size_t{1}, rows), QLX_OK);
    EXPECT_EQ(rows.span, most);
    EXPECT_EQ(api::measure_rows(row + 1, 2, stride, std::size_t{1}, rows), QLX_SIZE_OVERFLOW);
    // Width times pixel bytes at the edge.
    EXPECT_EQ(api::measure_rows(most / 3, 1, most, std::size_t{3}, rows), QLX_OK);
    EXPECT_EQ(rows.row_bytes, most);
    EXPECT_EQ(api::measure_rows(most / 3 + 1, 1, most, std::size_t{3}, rows), QLX_SIZE_OVERFLOW);
}

}  // namespace
}  // namespace qlx
