# Debian packages, one per install component, made by `cpack -G DEB` in the build folder
# (tools/make-packages.sh). They install under /usr whatever the build's own prefix.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sentova)
set(CPACK_PACKAGE_VENDOR "Tavrel Dynamics")
set(CPACK_PACKAGE_CONTACT "Sentova developers <sentova@tavrel-dynamics.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build is RelWithDebInfo; installed programs and libraries leave the debug sections behind.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tavrel-dynamics.example/sentova")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies on Debian's libraries come from dpkg-shlibdeps. It finds our own libraries, which
# another package of the set carries, in the build tree; the dependency on that package is
# written below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CMAKE_BINARY_DIR}/library ${CMAKE_BINARY_DIR}/library/LidarListener)

# A shlibs file for the libraries' package: the exact version, as nothing promises more.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

set(libraries_package "libsentova")
set(same_libraries "${libraries_package} (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")

set(CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME ${libraries_package})
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
string(CONCAT CPACK_COMPONENT_LIBRARIES_DESCRIPTION
  "Sentova device libraries\n"
  "The device library (commands over UDP, the event manager, the trigger, the\n"
  "library log) and the laser data listener.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${libraries_package}-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The CMake package finds Boost's components that the public headers use.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "${same_libraries}, libboost-system-dev (>= 1.74), libboost-thread-dev (>= 1.74), libboost-log-dev (>= 1.74)")
string(CONCAT CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Sentova device libraries: development files\n"
  "Headers and the CMake package: find_package(Sentova CONFIG) gives\n"
  "Sentova::tavrel and Sentova::listener.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME sentova)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${same_libraries}")
string(CONCAT CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Sentova device command-line tool and simulator\n"
  "sentova drives the device from scripts: its operations, captures to point\n"
  "cloud files (PCD, PLY, LAS, CSV, MCAP), recordings and conversions.\n"
  "sentova-sim answers the device's commands and streams laser data on a\n"
  "loopback address.")

set(CPACK_DEBIAN_VIEWER_PACKAGE_NAME sentova-viewer)
set(CPACK_DEBIAN_VIEWER_PACKAGE_SECTION science)
set(CPACK_DEBIAN_VIEWER_PACKAGE_DEPENDS "${same_libraries}")
set(CPACK_DEBIAN_VIEWER_PACKAGE_RECOMMENDS "sentova (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
string(CONCAT CPACK_COMPONENT_VIEWER_DESCRIPTION
  "Sentova device viewer\n"
  "The desktop control station: the 3D view of the device's laser data, scan\n"
  "and laser controls, device and stream status, point cloud files.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-sentova)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# Built for this interpreter's ABI; points come as NumPy arrays.
get_property(python_version GLOBAL PROPERTY SENTOVA_PYTHON_VERSION)
set(python_abi "python3")
if(python_version MATCHES "^([0-9]+)\\.([0-9]+)$")
  math(EXPR python_next "${CMAKE_MATCH_2} + 1")
  set(python_abi "python3 (>= ${python_version}), python3 (<< ${CMAKE_MATCH_1}.${python_next})")
endif()
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${same_libraries}, ${python_abi}, python3-numpy")
string(CONCAT CPACK_COMPONENT_PYTHON_DESCRIPTION
  "Sentova device module for Python 3\n"
  "The module sentova: the device, the session, the laser listener,\n"
  "recordings and point files, with points as NumPy structured arrays.")

set(CPACK_DEBIAN_WIRESHARK_PACKAGE_NAME sentova-wireshark)
set(CPACK_DEBIAN_WIRESHARK_PACKAGE_SECTION net)
set(CPACK_DEBIAN_WIRESHARK_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_WIRESHARK_PACKAGE_ENHANCES "wireshark, tshark")
string(CONCAT CPACK_COMPONENT_WIRESHARK_DESCRIPTION
  "Sentova device dissector for Wireshark\n"
  "Decodes the device's commands, replies, event notifications, trigger\n"
  "records and laser data packets in Wireshark and tshark.")

# Only these become packages; an install rule without a component would otherwise make a package
# of its own.
set(CPACK_COMPONENTS_ALL libraries development wireshark)
if(TARGET sentova OR TARGET sentova-sim)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()
if(TARGET sentova-viewer)
  list(APPEND CPACK_COMPONENTS_ALL viewer)
endif()
if(TARGET sentova_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
include(CPack)

# cpack packs what is built and builds nothing: this target builds everything the packages hold.
add_custom_target(sentova_packaged)
foreach(packaged tavrel listener sentova sentova-sim sentova-viewer sentova_python
                 sentova_manual_page sentova-sim_manual_page sentova-viewer_manual_page
                 viewer_icons sentova_completion)
  if(TARGET ${packaged})
    add_dependencies(sentova_packaged ${packaged})
  endif()
endforeach()
