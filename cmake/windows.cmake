# Windows build settings, included by the top-level CMakeLists.txt when the
# target is Windows (natively or through a MinGW-w64 toolchain file).

# The C and C++ runtimes are linked in: oskavi.exe needs no MinGW DLLs beside
# it, only system DLLs (kernel32, msvcrt, shell32, psapi).
add_link_options(-static -static-libgcc -static-libstdc++)
# platform/ calls CommandLineToArgvW (shell32) and GetProcessMemoryInfo (psapi).
link_libraries(shell32 psapi)
# GCC 12 reports a false -Wrestrict overlap inside std::string's operator+
# when it inlines it for i686 (GCC bug 105329); the code is not affected.
add_compile_options(-Wno-restrict)
# Likewise a false -Wstringop-overflow in std::vector's range insert.
add_compile_options(-Wno-stringop-overflow)
