#include "platform/os/Random.h"

#include <array>
#include <random>

namespace platform {
namespace {

std::mt19937_64& Generator() {
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return generator;
}

}  // namespace

std::int64_t RandomBelow(std::int64_t bound) {
  if (bound <= 0) return 0;
  std::uniform_int_distribution<std::int64_t> pick(0, bound - 1);
  return pick(Generator());
}

std::string NewGuidText() {
  std::array<std::uint8_t, 16> bytes{};
  std::uint64_t high = Generator()();
  std::uint64_t low = Generator()();
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<std::uint8_t>(high >> (8 * i));
    bytes[8 + i] = static_cast<std::uint8_t>(low >> (8 * i));
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 1
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(38);
  text += '{';
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  text += '}';
  return text;
}

}  // namespace platform
