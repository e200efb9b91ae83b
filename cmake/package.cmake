# Debian package of the installed files:
#   cmake --build build --target package   (or: cd build && cpack -G DEB)
# libFLAC is loaded at run time and only FLAC input needs it, so the package
# recommends it instead of depending on it; the C and C++ runtime
# dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oskavi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "the oskavi developers <oskavi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line AC-3 (ATSC A/52) encoder")
set(CPACK_PACKAGE_DESCRIPTION
    "oskavi turns WAV, RF64 or FLAC audio into a constant-bit-rate AC-3 elementary stream and checks AC-3 files for structural validity.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libflac12")
include(CPack)
