// tests/win32/posix_shim.h: the one POSIX call the portable tests' helpers
// use, for their Windows build (put in front of every test source there).
#pragma once
#ifdef _WIN32
#include <cstring>
#include <direct.h>
#include <io.h>

// "/tmp/name-XXXXXX" made unique and created; the path stays as given, so
// under wine it is the same folder as on the host.
inline char *mkdtemp(char *pattern)
{
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0) return nullptr;
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}
#endif
