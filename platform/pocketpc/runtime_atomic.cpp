// std::atomic on the handheld. ARMv4 has no atomic instruction but swp, so clang turns
// every atomic operation into a call to one of these (the GCC library-call interface:
// size N in bytes, memory order last, ignored).
//
// Why each is atomic on the handheld, a single StrongARM core:
// - An aligned load or store of 1, 2 or 4 bytes is one instruction (ldrb/ldrh/ldr,
//   strb/strh/str), which no interrupt and so no other thread can split. One core runs
//   in program order, so no barrier is needed either; being a call, each of these is
//   already a compiler barrier.
// - A read-modify-write is built on coredll's InterlockedTestExchange (compare and
//   exchange, Windows CE 1.0 and later; InterlockedCompareExchange and
//   InterlockedExchangeAdd only came with CE .NET 4.0) and InterlockedExchange (CE 1.0
//   and later). The CE kernel makes them atomic on a uniprocessor by restarting the
//   short sequence whenever a thread is interrupted inside it. They take an aligned
//   32-bit word, so a 1- or 2-byte operation works on the word that holds it and
//   leaves the other bytes as they are; a change to those bytes by another thread
//   meanwhile makes the exchange fail, and the loop tries again.
#include <cstdint>

#include "platform/pocketpc/pocketpc.h"

namespace {

typedef volatile uint32_t Word;

Word* WordOf(volatile void* p) { return reinterpret_cast<Word*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t(3)); }

unsigned ShiftOf(volatile void* p) { return (reinterpret_cast<uintptr_t>(p) & 3u) * 8; }

template <typename T>
uint32_t MaskOf(unsigned shift) {
  return sizeof(T) == 4 ? 0xFFFFFFFFu : ((1u << (8 * sizeof(T))) - 1u) << shift;
}

// Stores `desired` in the word when it still holds `expected`; the word found is returned.
uint32_t TestExchange(Word* word, uint32_t expected, uint32_t desired) {
  return static_cast<uint32_t>(InterlockedTestExchange(const_cast<LPLONG>(reinterpret_cast<volatile LONG*>(word)),
                                                       static_cast<LONG>(expected), static_cast<LONG>(desired)));
}

template <typename T>
T Load(const volatile void* mem) {
  return *static_cast<const volatile T*>(mem);
}

template <typename T>
void Store(volatile void* mem, T value) {
  *static_cast<volatile T*>(mem) = value;
}

// Replaces the value by op(old, operand) in one step; returns the old value.
template <typename T, typename Op>
T Update(volatile void* mem, T operand, Op op) {
  Word* word = WordOf(mem);
  unsigned shift = ShiftOf(mem);
  uint32_t mask = MaskOf<T>(shift);
  for (;;) {
    uint32_t oldWord = *word;
    T old = static_cast<T>((oldWord & mask) >> shift);
    T next = op(old, operand);
    uint32_t newWord = (oldWord & ~mask) | ((static_cast<uint32_t>(next) << shift) & mask);
    if (TestExchange(word, oldWord, newWord) == oldWord) return old;
  }
}

template <typename T>
T Exchange(volatile void* mem, T value) {
  if (sizeof(T) == 4)
    return static_cast<T>(InterlockedExchange(const_cast<LPLONG>(static_cast<volatile LONG*>(mem)),
                                              static_cast<LONG>(value)));
  return Update(mem, value, [](T, T v) { return v; });
}

template <typename T>
bool CompareExchange(volatile void* mem, void* expected, T desired) {
  T* wanted = static_cast<T*>(expected);
  Word* word = WordOf(mem);
  unsigned shift = ShiftOf(mem);
  uint32_t mask = MaskOf<T>(shift);
  for (;;) {
    uint32_t oldWord = *word;
    T found = static_cast<T>((oldWord & mask) >> shift);
    if (found != *wanted) {
      *wanted = found;
      return false;
    }
    uint32_t newWord = (oldWord & ~mask) | ((static_cast<uint32_t>(desired) << shift) & mask);
    // A failure here with the value still as wanted means the neighbouring bytes
    // changed: the exchange is tried again.
    if (TestExchange(word, oldWord, newWord) == oldWord) return true;
  }
}

template <typename T> T Add(T a, T b) { return static_cast<T>(a + b); }
template <typename T> T Sub(T a, T b) { return static_cast<T>(a - b); }
template <typename T> T And(T a, T b) { return static_cast<T>(a & b); }
template <typename T> T Or(T a, T b) { return static_cast<T>(a | b); }
template <typename T> T Xor(T a, T b) { return static_cast<T>(a ^ b); }
template <typename T> T Nand(T a, T b) { return static_cast<T>(~(a & b)); }

}  // namespace

#define BRINDLE_ATOMIC_OP(N, T, name, op)                                          \
  T __atomic_fetch_##name##_##N(volatile void* mem, T value, int) {                 \
    return Update<T>(mem, value, op<T>);                                             \
  }                                                                                  \
  T __atomic_##name##_fetch_##N(volatile void* mem, T value, int) {                 \
    return op<T>(Update<T>(mem, value, op<T>), value);                               \
  }

#define BRINDLE_ATOMIC(N, T)                                                         \
  T __atomic_load_##N(const volatile void* mem, int) { return Load<T>(mem); }       \
  void __atomic_store_##N(volatile void* mem, T value, int) { Store<T>(mem, value); } \
  T __atomic_exchange_##N(volatile void* mem, T value, int) { return Exchange<T>(mem, value); } \
  bool __atomic_compare_exchange_##N(volatile void* mem, void* expected, T desired, int, int) { \
    return CompareExchange<T>(mem, expected, desired);                               \
  }                                                                                  \
  BRINDLE_ATOMIC_OP(N, T, add, Add)                                                  \
  BRINDLE_ATOMIC_OP(N, T, sub, Sub)                                                  \
  BRINDLE_ATOMIC_OP(N, T, and, And)                                                  \
  BRINDLE_ATOMIC_OP(N, T, or, Or)                                                    \
  BRINDLE_ATOMIC_OP(N, T, xor, Xor)                                                  \
  BRINDLE_ATOMIC_OP(N, T, nand, Nand)

extern "C" {
BRINDLE_ATOMIC(1, uint8_t)
BRINDLE_ATOMIC(2, uint16_t)
BRINDLE_ATOMIC(4, uint32_t)
}
