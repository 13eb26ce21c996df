// The Windows user's remembered settings as the test host arranges them: a private
// HKEY_CURRENT_USER for --user (so parallel tests never share one), forgetting, seeding a raw
// value, and reading back what the module left.
#include "testhost/testhost.h"

namespace testhost {
namespace {

constexpr const char* kSettingsKey = "Software\\Vexel";
constexpr const char* kSettingsValue = "Settings";
constexpr const char* kUsersKey = "Software\\VexelTestUsers\\";

std::string regError(const char* what, LSTATUS status) {
    return std::string(what) + " failed (error " + std::to_string(status) + ")";
}

// Every later use of HKEY_CURRENT_USER in this process, the module's included, lands in a key
// of its own for this user name.
bool actAsUser(const std::string& name, std::string& error) {
    HKEY root = nullptr;
    const std::string path = kUsersKey + name;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &root, nullptr);
    if (status != ERROR_SUCCESS) {
        error = regError("creating the user key", status);
        return false;
    }
    status = RegOverridePredefKey(HKEY_CURRENT_USER, root);
    RegCloseKey(root);
    if (status != ERROR_SUCCESS) error = regError("RegOverridePredefKey", status);
    return status == ERROR_SUCCESS;
}

bool seedValue(const Options& o, std::string& error) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, kSettingsValue, 0, o.rememberedType, o.rememberedValue.data(),
                                static_cast<DWORD>(o.rememberedValue.size()));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) error = regError("storing --remembered-value", status);
    return status == ERROR_SUCCESS;
}

} // namespace

bool setUpUserSettings(std::string& error) {
    const Options& o = host.opt;
    if (!o.user.empty() && !actAsUser(o.user, error)) return false;
    if (o.forgetSettings) {
        const LSTATUS status = RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            error = regError("--forget-settings", status);
            return false;
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
    }
    return !o.haveRememberedValue || seedValue(o, error);
}

std::string rememberedSettingsJson() {
    std::uint8_t bytes[256];
    DWORD size = sizeof bytes, type = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, kSettingsValue, RRF_RT_ANY, &type, bytes,
                     &size) != ERROR_SUCCESS)
        return "null";
    return JsonObject().num("type", type).str("hex", hexBytes(bytes, size)).done();
}

} // namespace testhost
