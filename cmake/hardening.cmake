# morvidex_hardening: the protections the programs as shipped are built
# with.  For the Linux program, those of Debian's own packages
# (dpkg-buildflags with hardening=+all); for the Windows programs, what
# MinGW-w64's linker offers.  The program's targets link it; the tests'
# own code is built without it.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

add_library(morvidex_hardening INTERFACE)
if(NOT MORVIDEX_HARDEN)
  return()
endif()

if(WIN32)
  # Randomised load address, no execution of data pages and, for 64-bit
  # programs, addresses above 4 GiB.
  target_link_options(morvidex_hardening INTERFACE
    -Wl,--dynamicbase -Wl,--nxcompat
    $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--high-entropy-va>)
  return()
endif()

check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
target_compile_options(morvidex_hardening INTERFACE
  -fstack-protector-strong -Wformat -Werror=format-security)
# The fortified calls need the optimiser, and glibc warns about the macro
# without it.  Level 3 also checks copies into buffers whose size is known
# only at run time, which is where this program copies.
target_compile_definitions(morvidex_hardening INTERFACE
  $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=3>)
# Not every processor has these protections: each is used where the
# compiler knows it.
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "MORVIDEX_HAS${flag}" known)
  check_cxx_compiler_flag(${flag} ${known})
  if(${known})
    target_compile_options(morvidex_hardening INTERFACE ${flag})
  endif()
endforeach()
target_link_options(morvidex_hardening INTERFACE -Wl,-z,relro -Wl,-z,now)
