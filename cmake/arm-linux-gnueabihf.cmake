# Cross-building for 32-bit ARM Linux with hardware floating point (Debian
# armhf, 32-bit Raspberry Pi OS):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(PELDO_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(PELDO_QEMU_NAME arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
