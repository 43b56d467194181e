# Release flags of the Windows builds, shared by both mingw-w64 toolchains. The
# MinSizeRel build is what ships: every function and datum in a section of its own, so
# the linker drops what nothing calls, and no symbol table in the file. CMake adds its
# own -Os -DNDEBUG. Debug builds (the tests under Wine) keep their symbols.
set(CMAKE_C_FLAGS_MINSIZEREL_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-Wl,--gc-sections -s")
set(CMAKE_SHARED_LINKER_FLAGS_MINSIZEREL_INIT "-Wl,--gc-sections -s")
