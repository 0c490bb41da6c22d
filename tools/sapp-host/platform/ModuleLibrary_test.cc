// Telling a module of another toolchain family from the DLL's exports and
// imports, before it is loaded.
#include "tools/sapp-host/platform/ModuleLibrary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tools/sapp-host/platform/Process.h"

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

using Names = std::initializer_list<const char*>;

// A PE32+ image with one section (RVA 0x1000 at file offset 0x200) that
// holds the import descriptors of `dlls` and their names, then the export
// directory of `exports`, its table of name RVAs and the names; the last
// name's terminating zero is the image's last byte.
std::string imageOf(Names dlls, Names exports = {}) {
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
    const auto rvaHere = [&] { return kRva + static_cast<uint32_t>(section.size()); };
    std::size_t index = 0;
    for (const char* dll : dlls) {
        put32(section, 20 * index++ + 12, rvaHere());
        section += dll;
        section += '\0';
    }
    if (exports.size() != 0) {
        const std::size_t directory = section.size();
        put32(image, kOptional + 112, rvaHere());  // the export table
        section.append(40, '\0');
        put32(section, directory + 24, static_cast<uint32_t>(exports.size()));
        put32(section, directory + 32, rvaHere());
        const std::size_t table = section.size();
        section.append(4 * exports.size(), '\0');
        index = 0;
        for (const char* name : exports) {
            put32(section, table + 4 * index++, rvaHere());
            section += name;
            section += '\0';
        }
    }
    image.replace(kSection, 8, std::string(".idata\0\0", 8));
    put32(image, kSection + 8, static_cast<uint32_t>(section.size()));
    put32(image, kSection + 12, kRva);
    put32(image, kSection + 16, static_cast<uint32_t>(section.size()));
    put32(image, kSection + 20, kRaw);
    return image + section;
}

std::string besideThisTest(const std::string& file) {
    const std::string self = sapphost::selfExecutablePath();
    return self.substr(0, self.find_last_of("/\\") + 1) + file;
}

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Names as the builds' sapp.dll export them.
constexpr const char* kItaniumExport = "_ZN10ProtoUInfoC1ERKS_";
constexpr const char* kMicrosoftExport = "??0ProtoUInfo@@QEAA@AEBU0@@Z";

TEST(ModuleFamily, TheExportsAndRuntimeImportsNameTheToolchain) {
    // As the msvc-wine build's sapp.dll imports them, names in any case.
    EXPECT_EQ(windowsModuleFamily(imageOf({"pktcore.dll", "VCRUNTIME140.dll", "MSVCP140.dll", "ucrtbase.dll",
                                           "KERNEL32.dll"},
                                          {"getModule", kMicrosoftExport})),
              ModuleFamily::Msvc);
    // MSVC's decoration is enough when the C++ runtime is linked statically.
    EXPECT_EQ(windowsModuleFamily(imageOf({"api-ms-win-crt-heap-l1-1-0.dll"}, {kMicrosoftExport})),
              ModuleFamily::Msvc);
    // As the windows (mingw-w64) build's sapp.dll imports them.
    EXPECT_EQ(windowsModuleFamily(imageOf({"KERNEL32.dll", "msvcrt.dll", "pktcore.dll", "tarnbase.dll"},
                                          {"getModule", kItaniumExport})),
              ModuleFamily::MingwGcc);
    // mingw-w64 against the UCRT: Itanium names, the UCRT's DLLs, no msvcrt.dll.
    EXPECT_EQ(windowsModuleFamily(imageOf({"api-ms-win-crt-runtime-l1-1-0.dll", "KERNEL32.dll"}, {kItaniumExport})),
              ModuleFamily::MingwGccUcrt);
    EXPECT_EQ(windowsModuleFamily(imageOf({"ucrtbase.dll", "libstdc++-6.dll"}, {"getModule"})),
              ModuleFamily::MingwGccUcrt);
    // The UCRT alone, either ABI's evidence at once, or no runtime named:
    // nothing to tell.
    EXPECT_EQ(windowsModuleFamily(imageOf({"ucrtbase.dll", "kernel32.dll"}, {"getModule"})), ModuleFamily::Unknown);
    EXPECT_EQ(windowsModuleFamily(imageOf({"vcruntime140.dll"}, {kItaniumExport})), ModuleFamily::Unknown);
    EXPECT_EQ(windowsModuleFamily(imageOf({"kernel32.dll", "pktcore.dll"}, {kItaniumExport})), ModuleFamily::Unknown);
    EXPECT_EQ(windowsModuleFamily(imageOf({})), ModuleFamily::Unknown);
}

#if defined(SAPP_UCRT_MINGW_MODULE)
// A DLL linked by mingw-w64 GCC against the UCRT's import library, built
// with the tests (testdata/UcrtMingwModule.cc).
TEST(ModuleFamily, AUcrtMingwDllIsItsOwnFamily) {
    const std::string image = fileBytes(besideThisTest(SAPP_UCRT_MINGW_MODULE));
    ASSERT_FALSE(image.empty()) << SAPP_UCRT_MINGW_MODULE;
    EXPECT_EQ(windowsModuleFamily(image), ModuleFamily::MingwGccUcrt);
}
#endif

TEST(ModuleFamily, AnythingButAWholePeImageIsUnknown) {
    EXPECT_EQ(windowsModuleFamily(""), ModuleFamily::Unknown);
    EXPECT_EQ(windowsModuleFamily(std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(200, '\0')),
              ModuleFamily::Unknown);
    // Every cut of a valid image loses at least the last name's end.
    const std::string image = imageOf({"kernel32.dll", "msvcrt.dll"}, {"getModule", kItaniumExport});
    ASSERT_EQ(windowsModuleFamily(image), ModuleFamily::MingwGcc);
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
    damaged = image;
    put32(damaged, 0x40 + 24 + 112, 0x7FFFFFFFu);  // the export table's RVA
    EXPECT_EQ(windowsModuleFamily(damaged), ModuleFamily::Unknown);
}

// A module of another family is refused with a message naming both, before
// Windows is asked to load it (which would fail on missing names, or worse,
// load it): mingw-w64's against the UCRT by either host.
TEST(ModuleFamily, LoadingAModuleOfAnotherFamilyFailsWithAClearMessage) {
    if (sapphost::hostFamily() == ModuleFamily::Unknown) GTEST_SKIP() << "sapp-host checks the family on Windows";
    const bool msvc = sapphost::hostFamily() == ModuleFamily::Msvc;
    const auto path = (std::filesystem::temp_directory_path() / "sapp-host-other-family.dll").string();
    std::vector<std::pair<std::string, std::string>> others = {
        {msvc ? imageOf({"KERNEL32.dll", "msvcrt.dll"}, {kItaniumExport}) : imageOf({"vcruntime140.dll"}),
         msvc ? "is built by mingw-w64 GCC (" : "is built by MSVC ("},
        {imageOf({"api-ms-win-crt-runtime-l1-1-0.dll"}, {kItaniumExport}), "is built by mingw-w64 GCC against the UCRT"}};
#if defined(SAPP_UCRT_MINGW_MODULE)
    others.emplace_back(fileBytes(besideThisTest(SAPP_UCRT_MINGW_MODULE)), "is built by mingw-w64 GCC against the UCRT");
#endif
    for (const auto& [image, builtBy] : others) {
        SCOPED_TRACE(builtBy);
        std::ofstream(path, std::ios::binary) << image;
        try {
            sapphost::loadModule(path);
            ADD_FAILURE() << "a module of another family was loaded";
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(builtBy), std::string::npos) << message;
            EXPECT_NE(message.find("this sapp-host by " + sapphost::describeFamily(sapphost::hostFamily())),
                      std::string::npos)
                << message;
        }
    }
    std::filesystem::remove(path);
}

}  // namespace
