#pragma once

// The per-byte and per-text paths are copied in line wherever they are
// called, the rare paths kept out of them; compilers choose otherwise for a
// function called from several places, and each has its own word for it.
#if defined(__GNUC__)
#define SALES_TALLY_ALWAYS_INLINE [[gnu::always_inline]] inline
#define SALES_TALLY_OUT_OF_LINE [[gnu::noinline]]
#elif defined(_MSC_VER)
#define SALES_TALLY_ALWAYS_INLINE __forceinline
#define SALES_TALLY_OUT_OF_LINE __declspec(noinline)
#else
#define SALES_TALLY_ALWAYS_INLINE inline
#define SALES_TALLY_OUT_OF_LINE
#endif
