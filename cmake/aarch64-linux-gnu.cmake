# Cross-building for 64-bit ARM Linux (Debian arm64, 64-bit Raspberry Pi OS):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(PELDO_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PELDO_QEMU_NAME aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
