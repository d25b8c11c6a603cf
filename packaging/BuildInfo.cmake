# Facts of the build that the program needs at run time, each set here once:
# its version (from project()) and where an install keeps its data files.
include(GNUInstallDirs)

# The data folder under the install prefix, and the same folder as seen from
# the folder of the executables, so that a relocated install still finds it.
set(CHIPLOAD_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/chipload)
file(RELATIVE_PATH chipload_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/chipload)

configure_file(${CMAKE_CURRENT_LIST_DIR}/install_layout/chipload_version.h.in
               ${PROJECT_BINARY_DIR}/generated/chipload_version.h @ONLY)

add_library(chipload_install_layout STATIC ${CMAKE_CURRENT_LIST_DIR}/install_layout/install_layout.cpp)
target_include_directories(chipload_install_layout PUBLIC ${CMAKE_CURRENT_LIST_DIR}/install_layout
                                                          ${PROJECT_BINARY_DIR}/generated)
target_compile_definitions(chipload_install_layout PRIVATE
  CHIPLOAD_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/chipload"
  CHIPLOAD_DATA_DIR_FROM_BIN="${chipload_data_from_bin}")
