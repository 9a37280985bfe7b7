# Same sources as a 64-bit Windows program. Used to run the test suite where the
# host kernel cannot execute 32-bit x86 code (IA-32 emulation switched off), so
# 32-bit Wine cannot start there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
