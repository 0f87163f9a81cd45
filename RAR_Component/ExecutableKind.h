#pragma once
// Which kind of program a file is, judged from its headers as the system's
// loader would. Used to tell a self-extracting archive from a plain one.
#include <filesystem>

enum class ExecutableKind {
    None,  // not a program, or unreadable
    Win32, // 32-bit Windows (PE32)
    Dos,   // MS-DOS (MZ without a newer header)
    Win16, // 16-bit Windows (NE)
    Pif,   // program information file
    Posix, // PE image of the POSIX subsystem
    Os2,   // 16-bit OS/2 (NE for OS/2)
    Win64, // 64-bit Windows (PE32+)
    Elf    // ELF program of any class
};

ExecutableKind executableKind(const std::filesystem::path& file);
