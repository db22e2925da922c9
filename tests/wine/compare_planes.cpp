// Compares two raw float32 files for the end-to-end tests. Exit 0: the same
// bytes, NaN signs and payloads included. Exit 1: any difference, told as the
// first few pixels that differ and the count of NaN pixels among them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<char> read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

bool is_nan(uint32_t bits) {
  return (bits & 0x7f800000u) == 0x7f800000u && (bits & 0x007fffffu) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: compare_planes A.f32 B.f32\n");
    return 1;
  }
  const std::vector<char> a = read(argv[1]), b = read(argv[2]);
  if (a.size() != b.size() || a.size() % 4 != 0) {
    std::printf("sizes differ: %zu and %zu bytes\n", a.size(), b.size());
    return 1;
  }
  size_t nan_payloads = 0, others = 0;
  for (size_t i = 0; i < a.size(); i += 4) {
    uint32_t x, y;
    std::memcpy(&x, &a[i], 4);
    std::memcpy(&y, &b[i], 4);
    if (x == y) continue;
    if (is_nan(x) && is_nan(y)) {
      ++nan_payloads;
    } else if (others++ < 5) {
      std::printf("pixel %zu: %08x and %08x\n", i / 4, unsigned(x), unsigned(y));
    }
  }
  if (others) std::printf("%zu pixels differ in value\n", others);
  if (nan_payloads) std::printf("%zu NaN pixels differ in sign or payload\n", nan_payloads);
  return others || nan_payloads ? 1 : 0;
}
