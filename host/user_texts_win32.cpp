// Loading the user's texts in the language chosen for the Windows user, by asking for that
// resource language explicitly: the host thread's UI language is never changed.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "host/plugin_globals.h"
#include "host/user_texts.h"
#include "host/windows_win32.h"
#include "resources/resource_ids.h"

namespace vexel {

std::span<const std::uint8_t> loadUserTexts(const char* type, const char* name) {
    const auto module = static_cast<HMODULE>(g.host.moduleInstance);
    const WORD language = textsLanguageFor(GetUserDefaultUILanguage());
    HRSRC found = FindResourceExA(module, type, name, language);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return {};
    return {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
}

void loadUserString(std::int32_t id, char* buffer, std::int32_t bufferBytes) {
    if (bufferBytes <= 0) return;
    buffer[0] = '\0';
    const auto block = loadUserTexts(RT_STRING, MAKEINTRESOURCEA(id / 16 + 1));
    const auto units = tableString(block, id % 16);
    // As LoadStringA does: the string in the ANSI code page, cut to the buffer less its
    // terminator. The copy to wide characters keeps the conversion off unaligned resource bytes.
    wchar_t wide[512];
    const int count = static_cast<int>(std::min<std::size_t>(units.size() / 2, std::size(wide)));
    if (count == 0) return;
    std::memcpy(wide, units.data(), static_cast<std::size_t>(count) * 2);
    char ansi[4 * std::size(wide)];
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide, count, ansi, sizeof ansi, nullptr, nullptr);
    const int kept = std::clamp(length, 0, bufferBytes - 1);
    std::memcpy(buffer, ansi, static_cast<std::size_t>(kept));
    buffer[kept] = '\0';
}

} // namespace vexel
