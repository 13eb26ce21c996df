// PNG input and output through stb; 16-bit output through a small writer of our own (stb writes
// only 8 bits), with stored deflate blocks: larger files, no compression library needed.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wtype-limits"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_WINDOWS_UTF8
#define STBIW_WINDOWS_UTF8
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

#include "testhost/testhost.h"

namespace testhost {

namespace {

// v of 0..from to 0..to, rounded to nearest, saturating at `to`.
std::uint16_t rescaled(std::uint32_t v, std::uint32_t from, std::uint32_t to) {
    const std::uint64_t scaled = (std::uint64_t{v} * to + from / 2) / from;
    return static_cast<std::uint16_t>(scaled < to ? scaled : to);
}

std::uint32_t crc32Of(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putChunk(std::vector<std::uint8_t>& out, const char* type,
              const std::vector<std::uint8_t>& data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian(out, crc32Of(out.data() + start, out.size() - start));
}

// A zlib stream of stored blocks (no compression).
std::vector<std::uint8_t> storedZlib(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        out.push_back(at + n == raw.size() ? 1 : 0);
        const std::array<std::uint8_t, 4> lengths = {
            static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)};
        out.insert(out.end(), lengths.begin(), lengths.end());
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                   raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian(out, (b << 16) | a);
    return out;
}

bool saveImage16(const std::string& path, const Image& image, int fullScale) {
    const std::size_t samples = image.pixels.size() / 2;
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".raw") == 0)
        return writeFile(path, image.pixels);
    // Filtered rows (filter byte 0) of big-endian samples scaled to 0..65535.
    std::vector<std::uint8_t> raw;
    raw.reserve(samples * 2 + static_cast<std::size_t>(image.height));
    const std::size_t rowSamples = static_cast<std::size_t>(image.width) * image.planes;
    for (std::size_t i = 0; i < samples; ++i) {
        if (i % rowSamples == 0) raw.push_back(0);
        const std::uint32_t v = image.pixels[2 * i] | std::uint32_t{image.pixels[2 * i + 1]} << 8;
        const std::uint16_t out = rescaled(v, static_cast<std::uint32_t>(fullScale), 65535);
        raw.push_back(static_cast<std::uint8_t>(out >> 8));
        raw.push_back(static_cast<std::uint8_t>(out));
    }
    static constexpr std::uint8_t kColourType[5] = {0, 0, 4, 2, 6}; // grey, grey+alpha, RGB, RGBA
    std::vector<std::uint8_t> header;
    putBigEndian(header, static_cast<std::uint32_t>(image.width));
    putBigEndian(header, static_cast<std::uint32_t>(image.height));
    header.insert(header.end(), {16, kColourType[image.planes], 0, 0, 0});
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", storedZlib(raw));
    putChunk(png, "IEND", {});
    return writeFile(path, png);
}

} // namespace

bool loadImage(const std::string& path, int planes, Image& image, std::string& error,
               int sampleBytes, int fullScale) {
    int width = 0, height = 0, channels = 0;
    void* data =
        sampleBytes == 2
            ? static_cast<void*>(stbi_load_16(path.c_str(), &width, &height, &channels, planes))
            : static_cast<void*>(stbi_load(path.c_str(), &width, &height, &channels, planes));
    if (data == nullptr) {
        error = "cannot read " + path + ": " + stbi_failure_reason();
        return false;
    }
    if (width > 32767 || height > 32767) {
        stbi_image_free(data);
        error = path + " is larger than 32767 pixels";
        return false;
    }
    image.width = width;
    image.height = height;
    image.planes = planes;
    image.sampleBytes = sampleBytes;
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                static_cast<std::size_t>(planes);
    if (sampleBytes == 2) {
        // stb gives 0..65535 (8-bit files scaled by 257); the host holds 0..fullScale.
        const auto* values = static_cast<const std::uint16_t*>(data);
        image.pixels.resize(samples * 2);
        for (std::size_t i = 0; i < samples; ++i) {
            const std::uint16_t v =
                rescaled(values[i], 65535, static_cast<std::uint32_t>(fullScale));
            std::memcpy(&image.pixels[2 * i], &v, sizeof v);
        }
    } else {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        image.pixels.assign(bytes, bytes + samples);
    }
    stbi_image_free(data);
    return true;
}

bool saveImage(const std::string& path, const Image& image, std::string& error, int fullScale) {
    const bool raw = path.size() >= 4 && path.compare(path.size() - 4, 4, ".raw") == 0;
    const bool saved = raw ? writeFile(path, image.pixels)
                       : image.sampleBytes == 2
                           ? saveImage16(path, image, fullScale)
                           : stbi_write_png(path.c_str(), image.width, image.height, image.planes,
                                            image.pixels.data(), image.width * image.planes) != 0;
    if (!saved) error = "cannot write " + path;
    return saved;
}

// Rows of BGR triples as GetDIBits returns them (bottom-up order already undone by the caller).
bool saveBgrPng(const std::string& path, int width, int height,
                const std::vector<std::uint8_t>& bgrRows, int rowBytes, std::string& error) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) *
                                  static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* s = &bgrRows[static_cast<std::size_t>(y * rowBytes + x * 3)];
            std::uint8_t* d = &rgb[static_cast<std::size_t>((y * width + x) * 3)];
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    Image image{width, height, 3, std::move(rgb)};
    return saveImage(path, image, error);
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    std::array<std::uint8_t, 4096> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0;)
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    const bool complete = std::ferror(file) == 0;
    std::fclose(file);
    return complete;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t\r\n\v\f", at)) != std::string::npos) {
        const std::size_t end = std::min(text.find_first_of(" \t\r\n\v\f", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

} // namespace testhost
