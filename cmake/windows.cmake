# The Windows build, included by CMakeLists.txt when cross-compiling with
# cmake/mingw-w64.cmake. Everything comes from Debian packages: the mingw-w64
# compiler, xxHash's header (compiled in, no library), GoogleTest's sources,
# and libmicrohttpd's source package, built here for Windows; and the
# tree-sitter runtime's C source from npm, with the grammars.

list(FILTER WYN_SOURCES EXCLUDE REGEX "/src/os/posix/")
# libcurl stays on Linux: the HTTP engine here is WinHTTP.
list(FILTER WYN_SOURCES EXCLUDE REGEX "/src/http/curl/")

# The preview server's library: Debian ships libmicrohttpd for Linux only,
# so its source package is built once per build folder into a static
# library (tools/microhttpd_windows.sh; a minute or so).
set(WYN_MICROHTTPD_DIR ${CMAKE_BINARY_DIR}/microhttpd)
if(NOT EXISTS ${WYN_MICROHTTPD_DIR}/lib/libmicrohttpd.a)
  message(STATUS "Building libmicrohttpd for Windows from Debian's source package")
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tools/microhttpd_windows.sh ${WYN_MICROHTTPD_DIR}
                  RESULT_VARIABLE microhttpd_result)
  if(NOT microhttpd_result EQUAL 0)
    message(FATAL_ERROR "libmicrohttpd for Windows could not be built (tools/microhttpd_windows.sh)")
  endif()
endif()
set(MICROHTTPD_INCLUDE_DIR ${WYN_MICROHTTPD_DIR}/include)

# xxHash from its header alone; the header is copied so that no other file of
# the build system's /usr/include can reach the Windows compiler.
find_file(WYN_XXHASH_HEADER xxhash.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
configure_file(${WYN_XXHASH_HEADER} ${CMAKE_BINARY_DIR}/xxhash/xxhash.h COPYONLY)
set(XXHASH_INCLUDE_DIR ${CMAKE_BINARY_DIR}/xxhash)
# nlohmann's JSON library, header-only, copied in the same way.
find_path(WYN_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${WYN_NLOHMANN_DIR}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/nlohmann-json)
set(NLOHMANN_JSON_INCLUDE_DIR ${CMAKE_BINARY_DIR}/nlohmann-json)
set(WYN_SYSTEM_DEFINITIONS XXH_INLINE_ALL UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
set(WYN_SYSTEM_LIBRARIES winhttp crypt32 ${WYN_MICROHTTPD_DIR}/lib/libmicrohttpd.a ws2_32)
# Debian's tree-sitter library is Linux's: the runtime is compiled here from
# the C source of the npm package the grammars come with
# (cmake/tree_sitter.cmake).
set(WYN_TREE_SITTER_FROM_SOURCE ON)

# One wyn.exe without DLLs beside it: the C++ runtime and winpthreads are
# linked in.
add_link_options(-static -static-libgcc -static-libstdc++)

if(WYN_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # Its own CMake files name the targets GTest::gtest and GTest::gtest_main.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Cases left to the Linux run: those that read pages back with Python's HTML
# parser; the comparison of every integer format with the C library's,
# whose Windows runtimes put a space before an unsigned number for "% u"
# (the flag is for signed conversions only); and a watched folder's
# deletion, which wine does not report to the folder's own watch (the file
# service still finds it by the folder's identity at its next full pass).
set(WYN_WINDOWS_TEST_FILTER
    "--gtest_filter=-*Python*:Format.IntegerFlagsWidthsAndPrecisions:FolderWatch.AFolderDeletedEnds*")

# The pages of wyn.exe under wine against those of the Linux wyn.
set(WYN_LINUX_BINARY ${CMAKE_SOURCE_DIR}/build/release/wyn CACHE FILEPATH "the Linux wyn the pages are compared with")
function(wyn_windows_compare_test)
  add_test(NAME win32_same_pages COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/win32/same_pages_test.py)
  set_tests_properties(win32_same_pages PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS windows
    ENVIRONMENT "WYN_BINARY=${WYN_LINUX_BINARY};WYN_EXE=$<TARGET_FILE:wyn>")
  # wyn.exe through the Linux end-to-end cases of tests/tools, a test for
  # each group of tests/win32/tools_wine_test.py: serve (live reload in
  # Chromium included), the options and diagnostics forms, the feed and site
  # map, init.
  foreach(group serve diagnostics feed init)
    add_test(NAME win32_${group} COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/win32/tools_wine_test.py ${group})
    set_tests_properties(win32_${group} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 LABELS windows
      ENVIRONMENT "WYN_EXE=$<TARGET_FILE:wyn>;WYN_WINE=${WYN_WINE}")
  endforeach()
endfunction()

# The tests that run on Windows: those that need no POSIX call of their own
# (fork, pipes, signals, file modes), plus those written for Windows. The
# real program is started through tests/wyn_process.h, which has a Windows
# side; an address-space limit has none. The fixture sites' pages are
# compared with Linux's by win32_same_pages instead of tests/site/
# fixture_site.h, whose recursive copy into an existing folder the Windows
# C++ library refuses.
function(wyn_windows_tests list_var)
  set(kept)
  foreach(source ${${list_var}})
    file(STRINGS ${source} posix_lines
         REGEX "#include (<(unistd|poll|dirent|fcntl|signal|csignal)\\.?h?>|<(sys|arpa|netinet)/|\"([a-z_./]*/)?(test_server|fixture_site)\\.h\")")
    if(posix_lines OR source MATCHES "/address_limit_test\\.cpp$")
      continue()
    endif()
    list(APPEND kept ${source})
  endforeach()
  set(${list_var} ${kept} PARENT_SCOPE)
endfunction()
