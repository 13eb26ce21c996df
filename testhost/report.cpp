// The JSON report: everything the host saw, for the tests to read.
#include <cstdio>

#include "testhost/testhost.h"

namespace testhost {

std::string jsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string numbersJson(std::initializer_list<long long> values) {
    std::string out = "[";
    for (long long v : values) {
        if (out.size() > 1) out += ",";
        out += std::to_string(v);
    }
    return out + "]";
}

JsonObject allocStatsJson(const AllocStats& a) {
    JsonObject o;
    for (const AllocField& f : kAllocFields)
        o.num(f.name, a.*f.member);
    return o;
}

namespace {

// top, left, bottom, right, of either rectangle kind.
template <typename Rect> std::string rectJson(const Rect& r) {
    return numbersJson({r.top, r.left, r.bottom, r.right});
}

template <typename T, typename F> std::string list(const std::vector<T>& items, F toJson) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) out += ",\n ";
        out += toJson(items[i]);
    }
    return out + "]";
}

std::string buildReport() {
    JsonObject r;
    r.num("exit_status", host.exitStatus);
    r.raw("error", host.error.empty() ? "null" : jsonQuoted(host.error));
    r.str("plugin", host.opt.plugin);
    r.str("profile", host.opt.profile);
    r.raw("image", JsonObject()
                       .num("width", host.source.width)
                       .num("height", host.source.height)
                       .num("planes", host.source.planes)
                       .num("mode", host.opt.mode)
                       .num("depth", host.opt.depth)
                       .done());
    r.num("host_window", static_cast<long long>(host.platform.hwnd));
    HDC screen = GetDC(nullptr);
    r.raw("screen", JsonObject()
                        .num("bits_pixel", GetDeviceCaps(screen, BITSPIXEL))
                        .num("planes", GetDeviceCaps(screen, PLANES))
                        .num("width", GetDeviceCaps(screen, HORZRES))
                        .num("height", GetDeviceCaps(screen, VERTRES))
                        .done());
    ReleaseDC(nullptr, screen);
    r.raw("imports_patched", list(host.importsPatched, jsonQuoted));
    r.num("module_loads", host.moduleLoads);
    r.raw("remembered_settings", rememberedSettingsJson());
    r.raw("calls", list(host.calls, [](const CallRecord& c) {
              return JsonObject()
                  .num("run", c.run)
                  .str("selector", c.selector)
                  .num("code", c.code)
                  .num("result", c.result)
                  .done();
          }));
    r.raw("runs", list(host.runs, [](const RunSummary& s) {
              JsonObject results;
              for (const auto& [name, value] : s.results)
                  results.num(name.c_str(), value);
              JsonObject o;
              o.num("index", s.index)
                  .raw("results", results.done())
                  .num("continue_calls", s.continueCalls)
                  .raw("seconds", std::to_string(s.seconds))
                  .raw("continue_seconds", std::to_string(s.continueSeconds))
                  .boolean("finished", s.finished)
                  .str("params_hex", s.paramsHex);
              if (s.haveAlloc) o.raw("instrument", allocStatsJson(s.alloc).done());
              if (s.unloadedMidRun)
                  o.raw("unload", JsonObject()
                                      .raw("before", allocStatsJson(s.beforeUnload).done())
                                      .raw("after", allocStatsJson(s.afterUnload).done())
                                      .done());
              return o.done();
          }));
    r.raw("call_log", list(host.callLog, [](const CallLogEntry& e) {
              return JsonObject()
                  .num("run", e.run)
                  .num("index", e.index)
                  .str("selector", e.selector)
                  .num("result", e.result)
                  .raw("in", rectJson(e.inRect))
                  .raw("out", rectJson(e.outRect))
                  .raw("mask", rectJson(e.maskRect))
                  .raw("planes", numbersJson({e.planes[0], e.planes[1], e.planes[2], e.planes[3]}))
                  .done();
          }));
    r.raw("progress", list(host.progress, [](const ProgressRecord& p) {
              return numbersJson({p.run, p.done, p.total});
          }));
    r.num("display_pixels_count", host.displayCount);
    r.raw("display_pixels", list(host.display, [](const DisplayRecord& d) {
              return JsonObject()
                  .num("run", d.run)
                  .num("continue_call", d.continueCall)
                  .num("version", d.map.version)
                  .raw("bounds", rectJson(d.map.bounds))
                  .num("image_mode", d.map.imageMode)
                  .num("row_bytes", d.map.rowBytes)
                  .num("col_bytes", d.map.colBytes)
                  .num("plane_bytes", d.map.planeBytes)
                  .raw("src_rect", rectJson(d.srcRect))
                  .num("dst_row", d.dstRow)
                  .num("dst_col", d.dstCol)
                  .num("checksum", d.checksum)
                  .boolean("has_context", d.hadContext)
                  .done();
          }));
    r.raw("message_boxes", list(host.messageBoxes, [](const MessageBoxRecord& m) {
              return JsonObject()
                  .num("run", m.run)
                  .str("selector", m.selector)
                  .str("caption", m.argCaption)
                  .str("text", m.argText)
                  .str("shown_caption", m.shownCaption)
                  .str("shown_text", m.shownText)
                  .num("owner", static_cast<long long>(m.ownerArg))
                  .boolean("owner_is_host_window",
                           m.ownerArg != 0 &&
                               m.ownerArg == static_cast<std::uintptr_t>(host.platform.hwnd))
                  .num("actual_owner", static_cast<long long>(m.actualOwner))
                  .num("style", m.style)
                  .num("answer", m.answer)
                  .boolean("answered", m.seen)
                  .done();
          }));
    r.raw("protocol_errors", list(host.protocolErrors, [](const ProtocolError& e) {
              return JsonObject()
                  .num("run", e.run)
                  .str("selector", e.selector)
                  .num("call", e.call)
                  .str("what", e.what)
                  .done();
          }));
    r.raw("script", list(host.script, [](const ScriptResult& s) {
              JsonObject o;
              o.num("line", s.line).str("command", s.command).boolean("ok", s.ok);
              if (!s.valueJson.empty()) o.raw("value", s.valueJson);
              if (!s.error.empty()) o.str("error", s.error);
              return o.done();
          }));
    r.num("beeps", host.beeps);
    r.raw("descriptors", descriptorsJson());
    r.str("params_hex", finalParametersHex());
    if (host.opt.instrument) r.raw("instrument", instrumentJson(true));
    return r.done() + "\n";
}

} // namespace

void writeReport() {
    if (host.opt.report.empty()) return;
    std::string json;
    {
        Guard guard(host.lock);
        if (host.reportWritten) return;
        host.reportWritten = true;
        json = buildReport();
    }
    std::FILE* f = std::fopen(host.opt.report.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", host.opt.report.c_str());
        return;
    }
    std::fwrite(json.data(), 1, json.size(), f);
    std::fclose(f);
}

} // namespace testhost
