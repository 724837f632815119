#include "imaging/ChannelOrder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define VMK_SWAP_SSSE3 1
#endif

namespace vmk::detail {

namespace {

// One pixel at a time: the tails, and machines without byte shuffles.
size_t SwapPlain(const uint8_t* from, uint8_t* to, size_t pixels, size_t bytes) {
    for (size_t x = 0; x < pixels; ++x, from += bytes, to += bytes) {
        const uint8_t red = from[2];
        to[2] = from[0];
        to[1] = from[1];
        to[0] = red;
        if (bytes == 4) to[3] = from[3];
    }
    return pixels;
}

#ifdef VMK_SWAP_SSSE3
// Sixteen bytes a step with one byte shuffle; the pixels done. Three-byte
// pixels go five a step: the sixteenth byte is written back as it was read
// and taken again by the next step, so the loop stops while a whole
// sixteen bytes still lie ahead.
__attribute__((target("ssse3"))) size_t SwapShuffled(const uint8_t* from, uint8_t* to, size_t pixels, size_t bytes) {
    size_t done = 0;
    if (bytes == 3) {
        const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
        for (; done + 6 <= pixels; done += 5) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done * 3));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done * 3), _mm_shuffle_epi8(v, order));
        }
    } else {
        const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
        for (; done + 4 <= pixels; done += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done * 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done * 4), _mm_shuffle_epi8(v, order));
        }
    }
    return done;
}

bool HasShuffle() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3") != 0);
    return has;
}
#endif

}  // namespace

void SwapRedBlue(const uint8_t* from, uint8_t* to, size_t pixels, int bytesPerPixel) {
    const size_t bytes = bytesPerPixel == 4 ? 4 : 3;
    size_t done = 0;
#ifdef VMK_SWAP_SSSE3
    if (HasShuffle()) done = SwapShuffled(from, to, pixels, bytes);
#endif
    SwapPlain(from + done * bytes, to + done * bytes, pixels - done, bytes);
}

}  // namespace vmk::detail
