// Writes small pictures in every format and layout the picture decoders
// read, as seeds for the picture target: quorvex_fuzz_seeds FOLDER.
#include <cstdio>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb_image_write.h>
#pragma GCC diagnostic pop

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    for (int comp = 1; comp <= 4; ++comp) {
        const int w = 5, h = 3;
        std::vector<unsigned char> pixels(w * h * comp);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 29 + comp);
        const std::string base = dir + "/seed" + std::to_string(comp);
        ok &= stbi_write_png((base + ".png").c_str(), w, h, comp, pixels.data(), w * comp) != 0;
        ok &= stbi_write_bmp((base + ".bmp").c_str(), w, h, comp, pixels.data()) != 0;
        stbi_write_tga_with_rle = 0;
        ok &= stbi_write_tga((base + ".tga").c_str(), w, h, comp, pixels.data()) != 0;
        stbi_write_tga_with_rle = 1;
        ok &= stbi_write_tga((base + "-rle.tga").c_str(), w, h, comp, pixels.data()) != 0;
        if (comp == 1 || comp == 3) {
            ok &= stbi_write_jpg((base + ".jpg").c_str(), w * 4, h * 4, comp, std::vector<unsigned char>(w * h * comp * 16, 90).data(), 80) != 0;
        }
    }
    return ok ? 0 : 1;
}
