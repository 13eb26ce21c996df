// PNG input and output through stb.
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

bool loadImage(const std::string& path, int planes, Image& image, std::string& error) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* data = stbi_load(path.c_str(), &width, &height, &channels, planes);
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
    std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                        static_cast<std::size_t>(planes);
    image.pixels.assign(data, data + bytes);
    stbi_image_free(data);
    return true;
}

bool saveImage(const std::string& path, const Image& image, std::string& error) {
    if (stbi_write_png(path.c_str(), image.width, image.height, image.planes, image.pixels.data(),
                       image.width * image.planes) == 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
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

} // namespace testhost
