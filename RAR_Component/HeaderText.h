#pragma once
// Texts read out of the library's fixed-size buffers. Each stops at the
// first zero or at the buffer's end, so a library that leaves a buffer
// unterminated cannot make the component read past it.
#include <cstddef>
#include <string>

std::string boundedText(const char* buffer, std::size_t capacity);

// A wide-character name (UTF-16 on Windows, UTF-32 elsewhere) as UTF-16.
// `buffer` may be unaligned (the library's records are packed); `capacity`
// counts wide characters.
std::u16string boundedWideText(const void* buffer, std::size_t capacity);
