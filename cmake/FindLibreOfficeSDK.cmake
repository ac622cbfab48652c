# Finds the LibreOffice SDK (cppumaker and the UNO base headers) and the office
# installation whose type libraries describe the API.
#
# Result variables:
#   LibreOfficeSDK_FOUND
#   LibreOfficeSDK_CPPUMAKER      the header generator (the SDK's wrapper script)
#   LibreOfficeSDK_INCLUDE_DIR    UNO base headers (sal, rtl, cppu, com/sun/star/uno)
#   LibreOfficeSDK_PROGRAM_DIR    the office's program folder (soffice, helper libraries)
#   LibreOfficeSDK_TYPES          type libraries: types.rdb and types/offapi.rdb
# Imported target:
#   LibreOfficeSDK::UNO           cppu, cppuhelper and sal with the compile flags,
#                                 linked with an rpath to the program folder
# Hints: LIBREOFFICE_HOME (installation root, default /usr/lib/libreoffice).

set(_lo_roots ${LIBREOFFICE_HOME} $ENV{LIBREOFFICE_HOME} /usr/lib/libreoffice /usr/lib64/libreoffice
    /opt/libreoffice)

find_path(LibreOfficeSDK_PROGRAM_DIR NAMES types.rdb
  PATHS ${_lo_roots} PATH_SUFFIXES program NO_DEFAULT_PATH)
find_program(LibreOfficeSDK_CPPUMAKER NAMES cppumaker
  PATHS ${_lo_roots} PATH_SUFFIXES sdk/bin NO_DEFAULT_PATH)
find_path(LibreOfficeSDK_INCLUDE_DIR NAMES cppuhelper/bootstrap.hxx
  PATHS ${_lo_roots} PATH_SUFFIXES sdk/include NO_DEFAULT_PATH)
if(NOT LibreOfficeSDK_INCLUDE_DIR)
  find_path(LibreOfficeSDK_INCLUDE_DIR NAMES cppuhelper/bootstrap.hxx PATH_SUFFIXES libreoffice)
endif()

set(_lo_libs)
foreach(_lib uno_cppu uno_cppuhelpergcc3 uno_sal)
  find_library(LibreOfficeSDK_${_lib}_LIBRARY NAMES ${_lib}
    PATHS ${_lo_roots} PATH_SUFFIXES sdk/lib program NO_DEFAULT_PATH)
  list(APPEND _lo_libs LibreOfficeSDK_${_lib}_LIBRARY)
endforeach()

if(LibreOfficeSDK_PROGRAM_DIR AND EXISTS ${LibreOfficeSDK_PROGRAM_DIR}/types/offapi.rdb)
  set(LibreOfficeSDK_TYPES ${LibreOfficeSDK_PROGRAM_DIR}/types.rdb
      ${LibreOfficeSDK_PROGRAM_DIR}/types/offapi.rdb)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LibreOfficeSDK
  REQUIRED_VARS LibreOfficeSDK_CPPUMAKER LibreOfficeSDK_INCLUDE_DIR LibreOfficeSDK_PROGRAM_DIR
                LibreOfficeSDK_TYPES ${_lo_libs})

if(LibreOfficeSDK_FOUND AND NOT TARGET LibreOfficeSDK::UNO)
  add_library(LibreOfficeSDK::UNO INTERFACE IMPORTED)
  target_include_directories(LibreOfficeSDK::UNO SYSTEM INTERFACE ${LibreOfficeSDK_INCLUDE_DIR})
  target_compile_definitions(LibreOfficeSDK::UNO INTERFACE LINUX UNX CPPU_ENV=gcc3)
  target_link_libraries(LibreOfficeSDK::UNO INTERFACE
    ${LibreOfficeSDK_uno_cppu_LIBRARY} ${LibreOfficeSDK_uno_cppuhelpergcc3_LIBRARY}
    ${LibreOfficeSDK_uno_sal_LIBRARY})
  # The UNO libraries load helper libraries that exist only in the program folder.
  target_link_options(LibreOfficeSDK::UNO INTERFACE
    "LINKER:-rpath,${LibreOfficeSDK_PROGRAM_DIR}")
endif()

mark_as_advanced(LibreOfficeSDK_CPPUMAKER LibreOfficeSDK_INCLUDE_DIR LibreOfficeSDK_PROGRAM_DIR
  ${_lo_libs})
