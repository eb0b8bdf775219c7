# Debian's hardening flags, as dpkg-buildflags gives them with hardening=+all:
# stack protector, fortified libc calls, format checks, full RELRO and
# immediate binding, on position-independent executables. Only the hardening
# flags are taken; optimisation and debug flags stay the build type's.
# Debian's flags belong to the Linux build only.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(WARNING "dpkg-buildflags not found: building without Debian's hardening flags")
  return()
endif()

set(railmon_hardening_compile "")
set(railmon_hardening_link "")
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  foreach(flag IN LISTS flags)
    if(flag MATCHES "^-fstack-protector|^-fstack-clash-protection|^-fcf-protection|^-D_FORTIFY_SOURCE|^-Wformat|^-Werror=format-security")
      list(APPEND railmon_hardening_compile ${flag})
    elseif(flag MATCHES "^-Wl,-z,")
      list(APPEND railmon_hardening_link ${flag})
    endif()
  endforeach()
endforeach()
add_compile_options(${railmon_hardening_compile})
add_link_options(${railmon_hardening_link})
message(STATUS "Hardening: ${railmon_hardening_compile} ${railmon_hardening_link}")
