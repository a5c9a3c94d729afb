// The floor for palexpand: read 64000 bytes, write 192054. Usage: floor_expand IN OUT
#include <cstdio>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc < 3) return 2;
    std::vector<unsigned char> in(64000);
    std::vector<unsigned char> out(192054);
    std::FILE* input = std::fopen(argv[1], "rb");
    if (input == nullptr || std::fread(in.data(), 1, in.size(), input) != in.size()) return 2;
    std::fclose(input);
    for (std::size_t i = 0; i < in.size(); ++i) out[54 + 3 * i] = in[i];
    std::FILE* output = std::fopen(argv[2], "wb");
    if (output == nullptr) return 2;
    std::fwrite(out.data(), 1, out.size(), output);
    return std::fclose(output) == 0 ? 0 : 2;
}
