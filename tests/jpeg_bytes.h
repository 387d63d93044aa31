// Test helper: the bytes of a small JPEG file, as much of one as wyn reads
// for an image's size: the start marker, a JFIF (APP0) segment with the
// pixel density, a frame (SOF) segment with the size, and the end marker.
// A test leaves a segment out, or picks another frame kind, to build the
// files a reader must survive.
#pragma once
#include <string>

inline std::string jpeg_bytes(unsigned width, unsigned height, unsigned density_x, unsigned density_y,
                              bool app0 = true, bool sof = true, unsigned char sof_kind = 0xC0)
{
    auto u16_be = [](unsigned v) { return std::string{(char)(v >> 8), (char)v}; };
    std::string b = "\xFF\xD8";
    if (app0) b += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01", 12) + u16_be(density_x) + u16_be(density_y) + std::string(2, '\0');
    if (sof) b += std::string("\xFF") + (char)sof_kind + std::string("\x00\x11\x08", 3) + u16_be(height) + u16_be(width) + std::string("\x03\x01\x22\x00", 4);
    return b + "\xFF\xD9";
}
