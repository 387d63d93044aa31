// tests/win32/posix_shim.h: the one POSIX call the portable tests' helpers
// use, for their Windows build (put in front of every test source there).
#pragma once
#ifdef _WIN32
#include <cerrno>
#include <cstring>
#include <direct.h>
#include <random>

// "/tmp/name-XXXXXX" made unique and created; the path stays as given, so
// under wine it is the same folder as on the host. Not _mktemp: it has 26
// names per process id, and under wine every test binary gets the same id,
// so a few folders left behind (wine keeps a folder a watch held open) use
// them all up.
inline char *mkdtemp(char *pattern)
{
    size_t size = strlen(pattern);
    if (size < 6 || strcmp(pattern + size - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; attempt += 1) {
        for (size_t i = size - 6; i < size; i += 1) pattern[i] = letters[random() % (sizeof letters - 1)];
        if (_mkdir(pattern) == 0) return pattern;
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}
#endif
