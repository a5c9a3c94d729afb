#include "bmp_input.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "bmp_format.hpp"

namespace pal {

BmpInput open_bmp_input(InputFile& file) {
    BmpInput input;
    if (const std::optional<std::uint64_t> size = file.regular_size()) {
        input.file_size = *size;
        std::optional<qlx::ByteBuffer> headers = qlx::ByteBuffer::allocate(
            static_cast<std::size_t>(std::min<std::uint64_t>(*size, qlx::bmp_max_headers_size)));
        if (!headers) return {ReadStatus::out_of_memory, 0, {}, {}};
        if (!file.read_at(0, headers->bytes())) return {ReadStatus::read_failed, 0, {}, {}};
        input.contents = std::move(*headers);
        input.read_pixels = [&file](std::uint64_t offset, std::span<std::uint8_t> out) {
            return file.read_at(offset, out) ? out.data() : nullptr;
        };
        return input;
    }
    ReadResult whole = file.read_all();
    if (whole.status != ReadStatus::ok) return {whole.status, 0, {}, {}};
    input.file_size = whole.bytes.size();
    input.contents = std::move(whole.bytes);
    input.read_pixels = [contents = input.contents.bytes()](std::uint64_t offset, std::span<std::uint8_t> out) {
        return qlx::bytes_in_memory(contents, offset, out.size());
    };
    return input;
}

}  // namespace pal
