# The handheld: Pocket PC, Windows CE 3.0, ARMv4 (StrongARM). Objects come from clang
# through cmake/pocketpc-cc; archives, import libraries, resources and the link come
# from GNU binutils built for arm-mingw32ce by tools/ce-binutils.
#
#   BRINDLE_CE_BINUTILS  where tools/ce-binutils put the tools (default
#                        ${XDG_CACHE_HOME:-$HOME/.cache}/brindle/ce-binutils-2.40)

set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
# Read by the project's CMakeLists: build the handheld's deliverables and their checks.
set(BRINDLE_HANDHELD ON)

if(DEFINED ENV{BRINDLE_CE_BINUTILS})
  set(_ce_root "$ENV{BRINDLE_CE_BINUTILS}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(_ce_root "$ENV{XDG_CACHE_HOME}/brindle/ce-binutils-2.40")
else()
  set(_ce_root "$ENV{HOME}/.cache/brindle/ce-binutils-2.40")
endif()
set(BRINDLE_CE_TOOLS "${_ce_root}/bin")
foreach(tool as ld ar ranlib dlltool windres objdump)
  string(TOUPPER ${tool} _name)
  set(BRINDLE_CE_${_name} "${BRINDLE_CE_TOOLS}/arm-mingw32ce-${tool}")
  if(NOT EXISTS "${BRINDLE_CE_${_name}}" OR NOT EXISTS "${_ce_root}/.complete")
    message(FATAL_ERROR "The handheld's binutils are not built (no ${BRINDLE_CE_${_name}}): "
                        "run tools/ce-binutils (it builds them once, in a few minutes), "
                        "or set BRINDLE_CE_BINUTILS to where they are.")
  endif()
endforeach()

find_program(BRINDLE_CLANG NAMES clang clang-14)
if(NOT BRINDLE_CLANG)
  message(FATAL_ERROR "The handheld's build compiles with clang: apt-get install clang")
endif()
if(NOT EXISTS /usr/lib/arm-none-eabi/include/c++/12.2.1/atomic)
  message(FATAL_ERROR "The handheld's build takes <atomic> and <cstdint> for ARM from Debian: "
                      "apt-get install libstdc++-arm-none-eabi-dev")
endif()
if(NOT EXISTS /usr/bin/python3)
  message(FATAL_ERROR "The handheld's compiler driver runs on /usr/bin/python3: apt-get install python3")
endif()

set(CMAKE_C_COMPILER "${CMAKE_CURRENT_LIST_DIR}/pocketpc-cc")
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/pocketpc-cc")
# Given on every compile, so a build does not depend on the environment it runs in.
set(CMAKE_C_FLAGS_INIT "--ce-tools=${BRINDLE_CE_TOOLS} --clang=${BRINDLE_CLANG}")
set(CMAKE_CXX_FLAGS_INIT "--ce-tools=${BRINDLE_CE_TOOLS} --clang=${BRINDLE_CLANG}")
set(CMAKE_AR "${BRINDLE_CE_AR}" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${BRINDLE_CE_RANLIB}" CACHE FILEPATH "" FORCE)
set(CMAKE_LINKER "${BRINDLE_CE_LD}" CACHE FILEPATH "" FORCE)
# The compiler makes objects only; CMake's checks need no program of their own.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Programs are linked by the CE linker: a Windows CE GUI program for CE 3.0 at the
# usual base, base relocations kept (the .reloc section), a 64 KB stack as the
# handheld's own programs have, symbols left out of the file (the link map, asked for
# per program with -Map, keeps them). The archives are searched as a group, so their
# order does not matter.
set(BRINDLE_CE_LINK_FLAGS
    "--subsystem wince:3.00 --major-os-version 3 --minor-os-version 0 --image-base 0x10000"
    " --enable-reloc-section --disable-dynamicbase --disable-nxcompat --stack 0x10000,0x1000"
    " --no-insert-timestamp -e WinMainCRTStartup --strip-all")
string(CONCAT BRINDLE_CE_LINK_FLAGS ${BRINDLE_CE_LINK_FLAGS})
set(CMAKE_CXX_LINK_EXECUTABLE
    "${BRINDLE_CE_LD} ${BRINDLE_CE_LINK_FLAGS} <LINK_FLAGS> <OBJECTS> -o <TARGET> --start-group <LINK_LIBRARIES> --end-group")
set(CMAKE_C_LINK_EXECUTABLE "${CMAKE_CXX_LINK_EXECUTABLE}")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
