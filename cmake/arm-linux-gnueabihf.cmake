# Cross build for the device: 32-bit ARM Linux, hard-float ABI, with Debian's
# cross compiler (g++-arm-linux-gnueabihf). Target programs run under
# qemu-arm (Debian's qemu-user), so ctest and test discovery work on the
# build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(MKV_TARGET_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${MKV_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MKV_TARGET_TRIPLE}-g++)
set(CMAKE_AR ${MKV_TARGET_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MKV_TARGET_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_NM ${MKV_TARGET_TRIPLE}-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${MKV_TARGET_TRIPLE}-objdump CACHE FILEPATH "")
set(CMAKE_STRIP ${MKV_TARGET_TRIPLE}-strip CACHE FILEPATH "")

# GCC notes that the passing of some std:: iterators changed in GCC 7.1; the
# whole program is built by one compiler, so the note is noise.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# Debian installs the target's libraries and headers under this root.
set(CMAKE_FIND_ROOT_PATH /usr/${MKV_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L points qemu at the target's dynamic loader and C/C++ runtime.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;/usr/${MKV_TARGET_TRIPLE})
