// Writes the stand-in boot image used when the build is given no real one: the same bytes on
// every machine, every value of a byte present, no run that a comparison could skip over.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUTPUT SIZE\n", argv[0]);
    return 2;
  }
  const long size = std::strtol(argv[2], nullptr, 10);
  if (size <= 0) {
    std::fprintf(stderr, "size must be positive\n");
    return 2;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  uint64_t state = 0x56584134343130ULL;  // any fixed seed
  for (auto& byte : bytes) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    byte = static_cast<uint8_t>((state * 0x2545F4914F6CDD1DULL) >> 56);
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    std::perror(argv[1]);
    return 1;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
