// The remembered settings as one binary value under the current user's registry key. Every
// failure (no key, no access, another type, a value too long) reads as nothing stored.
#include <windows.h>

#include "host/remembered_settings.h"

namespace vexel {

namespace {

constexpr const char* kKeyPath = "Software\\Vexel";
constexpr const char* kValueName = "Settings";

} // namespace

std::size_t readRememberedValue(std::span<std::uint8_t> buffer) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(buffer.size());
    // A longer value fails with ERROR_MORE_DATA and leaves nothing to use.
    const LSTATUS status = RegQueryValueExA(key, kValueName, nullptr, &type, buffer.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_BINARY || size > buffer.size()) return 0;
    return size;
}

void writeRememberedValue(std::span<const std::uint8_t> bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, kValueName, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

} // namespace vexel
