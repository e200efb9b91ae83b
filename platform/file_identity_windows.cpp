#include "platform/file_identity.h"

#if defined(_WIN32)

#include <windows.h>

#include "platform/windows_text.h"

namespace oskavi {
namespace {

// An open handle on the file or directory itself, for reading its identity
// and type; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE open_for_query(const std::string& path) {
    return CreateFileW(wide_from_utf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    HANDLE ha = open_for_query(a);
    if (ha == INVALID_HANDLE_VALUE) return false;
    HANDLE hb = open_for_query(b);
    if (hb == INVALID_HANDLE_VALUE) {
        CloseHandle(ha);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    const bool known = GetFileInformationByHandle(ha, &ia) != 0 && GetFileInformationByHandle(hb, &ib) != 0;
    CloseHandle(ha);
    CloseHandle(hb);
    // The volume serial number and the file index name one file on Windows,
    // as the device and inode do elsewhere.
    return known && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

bool is_special_file(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide_from_utf8(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    HANDLE h = open_for_query(path);
    if (h == INVALID_HANDLE_VALUE) return false;  // a missing file is left to the open that follows
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    return type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE;
}

}  // namespace oskavi

#endif  // defined(_WIN32)
