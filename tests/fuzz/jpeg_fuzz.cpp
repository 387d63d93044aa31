// Any bytes as a JPEG file: the size scan never reads past them and the
// ratio is either empty or "<n>:1".
#include <cstdlib>
#include <cstring>

#include "render/icons.h"

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    static Arena *arena = arena_alloc(MiB(64), KiB(64));
    arena_clear(arena);
    // An exact copy, so a read one byte too far lands outside the block.
    char *bytes = (char *)malloc(size ? size : 1);
    if (size) memcpy(bytes, data, size);
    JpegInfo info = jpeg_info_from_bytes(arena, str(bytes, size));
    if (info.ratio.size) {
        if (!info.width || !info.height || !info.density_x || !info.density_y) abort();
        if (info.ratio.size < 3 || memcmp(info.ratio.str + info.ratio.size - 2, ":1", 2) != 0) abort();
    }
    free(bytes);
    return 0;
}
