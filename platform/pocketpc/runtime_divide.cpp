// Integer division on the handheld: ARMv4 has no divide instruction, so clang calls
// these (the ARM EABI run-time helpers). Quotients round toward zero and a remainder
// takes the sign of the dividend, as C says. The divmod forms return the quotient in
// r0 and the remainder in r1, which is how a 64-bit value comes back: low word, high
// word.
//
// Division by zero: quotient 0, remainder the dividend (so n == q * d + r still holds).
// The program never divides by zero; this only keeps such a fault from trapping.
#include <cstdint>

namespace {

uint32_t DivideUnsigned(uint32_t n, uint32_t d, uint32_t* remainder) {
  if (d == 0) {
    *remainder = n;
    return 0;
  }
  uint32_t q = 0;
  uint32_t r = 0;
  // Long division, one bit a step, from the top bit of the dividend down. Before the
  // step for bit b, r holds at most the 31 - b bits above it, so the shift never
  // overflows.
  for (int bit = 31; bit >= 0; --bit) {
    r = (r << 1) | ((n >> bit) & 1u);
    if (r >= d) {
      r -= d;
      q |= 1u << bit;
    }
  }
  *remainder = r;
  return q;
}

// Magnitudes divided as unsigned numbers; INT32_MIN's magnitude 2^31 fits, and
// INT32_MIN / -1 wraps to INT32_MIN, the two's complement result.
int32_t DivideSigned(int32_t n, int32_t d, int32_t* remainder) {
  uint32_t un = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  uint32_t ud = d < 0 ? 0u - static_cast<uint32_t>(d) : static_cast<uint32_t>(d);
  uint32_t ur;
  uint32_t uq = DivideUnsigned(un, ud, &ur);
  if ((n < 0) != (d < 0)) uq = 0u - uq;
  if (n < 0) ur = 0u - ur;
  *remainder = static_cast<int32_t>(ur);
  return static_cast<int32_t>(uq);
}

uint64_t Pair(uint32_t low, uint32_t high) { return (static_cast<uint64_t>(high) << 32) | low; }

}  // namespace

extern "C" {

uint32_t __aeabi_uidiv(uint32_t n, uint32_t d) {
  uint32_t r;
  return DivideUnsigned(n, d, &r);
}

int32_t __aeabi_idiv(int32_t n, int32_t d) {
  int32_t r;
  return DivideSigned(n, d, &r);
}

uint64_t __aeabi_uidivmod(uint32_t n, uint32_t d) {
  uint32_t r;
  uint32_t q = DivideUnsigned(n, d, &r);
  return Pair(q, r);
}

uint64_t __aeabi_idivmod(int32_t n, int32_t d) {
  int32_t r;
  int32_t q = DivideSigned(n, d, &r);
  return Pair(static_cast<uint32_t>(q), static_cast<uint32_t>(r));
}

}  // extern "C"
