# Cross-building for another Debian architecture with Debian's cross compiler
# and that architecture's libraries (multiarch: libsndfile1-dev:arm64 and so
# on). Included by the toolchain file of each architecture, which sets
# PELDO_CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR and PELDO_QEMU_NAME.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PELDO_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PELDO_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${PELDO_CROSS_TRIPLET})

# pkg-config reads only the target architecture's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${PELDO_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# ctest runs the programs under qemu-user; its dynamic loader and libraries
# are the multiarch ones, where the system loader looks for them.
find_program(PELDO_QEMU NAMES qemu-${PELDO_QEMU_NAME} qemu-${PELDO_QEMU_NAME}-static)
if(PELDO_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELDO_QEMU})
endif()
