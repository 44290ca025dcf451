# Cross-building for 64-bit Windows with Debian's MinGW-w64 compilers:
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DZQ_WINDOWS_QT=<Qt for MinGW, e.g. what scripts/windows builds> \
#         -DZQ_WINDOWS_LIBS=<prefix of libsodium and libarchive for MinGW>
#
# The posix thread-model compilers: the win32 model has no std::mutex, and Qt
# built by scripts/windows uses the same ones, whose runtime DLLs (libwinpthread
# among them) go beside the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZQ_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZQ_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQ_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZQ_MINGW}-windres)
# No link time in the PE header: the same sources link to the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,--no-insert-timestamp)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -Wl,--no-insert-timestamp)

set(ZQ_WINDOWS_QT "$ENV{ZQ_WINDOWS_QT}" CACHE PATH "Qt built for MinGW-w64")
set(ZQ_WINDOWS_LIBS "$ENV{ZQ_WINDOWS_LIBS}" CACHE PATH
  "Prefix of libsodium and libarchive built for MinGW-w64 (their lib/pkgconfig)")
# try_compile projects get the toolchain file again, but not the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZQ_WINDOWS_QT ZQ_WINDOWS_LIBS)

set(CMAKE_FIND_ROOT_PATH /usr/${ZQ_MINGW} ${ZQ_WINDOWS_QT} ${ZQ_WINDOWS_LIBS})
# pkg-config answers for the Windows side only: the .pc files of those
# builds, never the build machine's. Set here, so that a configure cmake
# reruns by itself in a later build sees the same.
# Without ZQ_WINDOWS_LIBS, a PKG_CONFIG_LIBDIR already set is left as it is.
if(ZQ_WINDOWS_LIBS)
  set(ENV{PKG_CONFIG_LIBDIR} "${ZQ_WINDOWS_LIBS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
elseif(NOT DEFINED ENV{PKG_CONFIG_LIBDIR})
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/${ZQ_MINGW}/lib/pkgconfig")
endif()
set(CMAKE_PREFIX_PATH ${ZQ_WINDOWS_QT})
# Programs (moc, rcc, uic: Qt's host tools) come from the build machine;
# headers, libraries and packages only from the Windows side, never the
# build machine's own Qt.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
