#include "replace_file.h"

#include <system_error>

#include "driver_platform.h"

namespace zntr::host {

HRESULT ReplaceFile(const std::filesystem::path& path, const std::string& text) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    const std::wstring temporary = path.wstring() + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        DWORD n = 0;
        ok = WriteFile(file, text.data() + written, static_cast<DWORD>(text.size() - written), &n,
                       nullptr) != FALSE &&
             n > 0;
        written += n;
    }
    ok = ok && FlushFileBuffers(file) != FALSE;
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok && MoveFileExW(temporary.c_str(), path.wstring().c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
        return S_OK;
    }
    const DWORD failure = ok ? GetLastError() : error;
    DeleteFileW(temporary.c_str());
    return HRESULT_FROM_WIN32(failure != ERROR_SUCCESS ? failure : ERROR_GEN_FAILURE);
}

}  // namespace zntr::host
