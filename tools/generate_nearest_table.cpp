// Writes the C++ source of the nearest-colour table (core/nearest_colour.hpp
// says its layout) to the file named by its one argument. It is a tool of
// the build machine: the table is written as numbers, which mean the same
// to every compiler, so cross builds run it where they are built.

#include <cstdint>
#include <cstdio>

#include "nearest_table_builder.hpp"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: generate_nearest_table OUTPUT.cpp\n", stderr);
        return 2;
    }
    const qlx::NearestTable table = qlx::compute_nearest_table();
    if (table.slots.size() > UINT16_MAX + std::size_t{1}) {
        std::fputs("generate_nearest_table: too many slots for 16 bits\n", stderr);
        return 1;
    }

    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    std::fputs(
        "// Written by generate_nearest_table at build time.\n#include \"nearest_colour.hpp\"\n\n"
        "namespace qlx::nearest_table {\n\nconst std::uint16_t block_slots[block_count] = {\n",
        out);
    for (std::size_t block = 0; block < table.block_slots.size(); ++block) {
        std::fprintf(out, "%u,%s", table.block_slots[block], block % 32 == 31 ? "\n" : "");
    }
    std::fprintf(out, "};\n\nalignas(64) const std::uint8_t slot_answers[%zu] = {\n",
                 table.slots.size() * qlx::slot_bytes);
    for (const qlx::NearestTable::Answers& answers : table.slots) {
        for (const std::uint8_t answer : answers) std::fprintf(out, "%u,", answer);
        std::fputc('\n', out);
    }
    std::fputs("};\n\n}  // namespace qlx::nearest_table\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}
