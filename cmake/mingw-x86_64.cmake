# The x86-64 twin of the Windows build, for the tests alone: the vendor's
# AWG10K.dll is 32-bit, so this build is never shipped, zipped or installed.
# It lets 64-bit Wine run the same sources where the kernel cannot run 32-bit
# programs, and so 32-bit Wine cannot start (tests/windows/test.sh builds it).
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
