// Telling a module of the other toolchain family from the DLL's import
// table, before it is loaded.
#include "tools/sapp-host/platform/ModuleLibrary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace {

using sapphost::ModuleFamily;
using sapphost::windowsModuleFamily;

void put16(std::string& image, std::size_t at, uint16_t value) {
    image[at] = static_cast<char>(value & 0xFF);
    image[at + 1] = static_cast<char>(value >> 8);
}

void put32(std::string& image, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A PE32+ image with one section (RVA 0x1000 at file offset 0x200) that
// holds the import descriptors of `dlls`, then their names; the last name's
// terminating zero is the image's last byte.
std::string imageImporting(std::initializer_list<const char*> dlls) {
    constexpr std::size_t kPe = 0x40, kOptional = kPe + 24, kOptionalSize = 240;
    constexpr std::size_t kSection = kOptional + kOptionalSize, kRaw = 0x200;
    constexpr uint32_t kRva = 0x1000;
    std::string image(kRaw, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, kPe);
    image.replace(kPe, 4, std::string("PE\0\0", 4));
    put16(image, kPe + 4, 0x8664);  // x86-64
    put16(image, kPe + 6, 1);       // one section
    put16(image, kPe + 20, kOptionalSize);
    put16(image, kOptional, 0x20B);  // PE32+
    const std::size_t descriptors = 20 * (dlls.size() + 1);
    put32(image, kOptional + 120, kRva);  // the import table
    put32(image, kOptional + 124, static_cast<uint32_t>(descriptors));

    std::string section(descriptors, '\0');
    std::size_t index = 0;
    for (const char* dll : dlls) {
        put32(section, 20 * index++ + 12, kRva + static_cast<uint32_t>(section.size()));
        section += dll;
        section += '\0';
    }
    image.replace(kSection, 8, std::string(".idata\0\0", 8));
    put32(image, kSection + 8, static_cast<uint32_t>(section.size()));
    put32(image, kSection + 12, kRva);
    put32(image, kSection + 16, static_cast<uint32_t>(section.size()));
    put32(image, kSection + 20, kRaw);
    return image + section;
}

TEST(ModuleFamily, TheRuntimeImportsNameTheToolchain) {
    // As the msvc-wine build's sapp.dll imports them, names in any case.
    EXPECT_EQ(windowsModuleFamily(imageImporting({"pktcore.dll", "VCRUNTIME140.dll", "MSVCP140.dll",
                                                  "ucrtbase.dll", "KERNEL32.dll"})),
              ModuleFamily::Msvc);
    // A module that uses only the C parts of the UCRT is still MSVC's.
    EXPECT_EQ(windowsModuleFamily(imageImporting({"ucrtbase.dll", "kernel32.dll"})), ModuleFamily::Msvc);
    // As the windows (mingw-w64) build's sapp.dll imports them.
    EXPECT_EQ(windowsModuleFamily(imageImporting({"KERNEL32.dll", "msvcrt.dll", "pktcore.dll", "tarnbase.dll"})),
              ModuleFamily::MingwGcc);
    // No C runtime named: nothing to tell.
    EXPECT_EQ(windowsModuleFamily(imageImporting({"kernel32.dll", "pktcore.dll"})), ModuleFamily::Unknown);
    EXPECT_EQ(windowsModuleFamily(imageImporting({})), ModuleFamily::Unknown);
}

TEST(ModuleFamily, AnythingButAWholePeImageIsUnknown) {
    EXPECT_EQ(windowsModuleFamily(""), ModuleFamily::Unknown);
    EXPECT_EQ(windowsModuleFamily(std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(200, '\0')),
              ModuleFamily::Unknown);
    // Every cut of a valid image loses at least the last name's end.
    const std::string image = imageImporting({"kernel32.dll", "msvcrt.dll"});
    for (std::size_t length = 0; length < image.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(windowsModuleFamily(std::string_view(image).substr(0, length)), ModuleFamily::Unknown);
    }
    // Offsets that point outside the image.
    std::string damaged = image;
    put32(damaged, 0x3C, 0xFFFFFFF0u);
    EXPECT_EQ(windowsModuleFamily(damaged), ModuleFamily::Unknown);
    damaged = image;
    put32(damaged, 0x40 + 24 + 120, 0x7FFFFFFFu);  // the import table's RVA
    EXPECT_EQ(windowsModuleFamily(damaged), ModuleFamily::Unknown);
}

// The other family's module is refused with a message naming both, before
// Windows is asked to load it (which would fail on missing names, or worse,
// load it).
TEST(ModuleFamily, LoadingAModuleOfTheOtherFamilyFailsWithAClearMessage) {
    if (sapphost::hostFamily() == ModuleFamily::Unknown) GTEST_SKIP() << "sapp-host checks the family on Windows";
    const bool msvc = sapphost::hostFamily() == ModuleFamily::Msvc;
    const auto path = std::filesystem::temp_directory_path() / "sapp-host-other-family.dll";
    {
        std::ofstream file(path, std::ios::binary);
        file << (msvc ? imageImporting({"KERNEL32.dll", "msvcrt.dll"}) : imageImporting({"vcruntime140.dll"}));
    }
    try {
        sapphost::loadModule(path.string());
        ADD_FAILURE() << "a module of the other family was loaded";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(msvc ? "is built by mingw-w64 GCC" : "is built by MSVC"), std::string::npos) << message;
        EXPECT_NE(message.find("this sapp-host by " + sapphost::describeFamily(sapphost::hostFamily())),
                  std::string::npos)
            << message;
    }
    std::filesystem::remove(path);
}

}  // namespace
