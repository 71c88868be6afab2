// The installed georef: `cmake --install` of the build tree into a temporary
// prefix, and the Debian package CPack makes from the same tree. What lands
// where, that every program has its manual page and agrees with it, and that
// the installed programs work on their own, away from the build tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace georef::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kPrograms = {"georef",         "georef-batch",     "georef-check", "georef-config",
                                            "georef-corners", "georef-demo-scan", "georef-seams", "georef-review",
                                            "georef-publish"};

// Every regular file below root, as a path relative to it.
std::set<std::string> FilesBelow(const std::string& root) {
    std::set<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_directory()) {
            files.insert(fs::relative(entry.path(), root).string());
        }
    }
    return files;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The command lines of a roff manual page's SYNOPSIS, as plain text.
std::vector<std::string> SynopsisOf(const std::string& roff) {
    std::vector<std::string> synopsis;
    bool inside = false;
    for (const std::string& line : Lines(roff)) {
        if (line.rfind(".SH", 0) == 0) {
            inside = line == ".SH SYNOPSIS";
        } else if (inside && !line.empty() && line[0] != '.') {
            std::string plain = line;
            for (const char* font : {"\\fB", "\\fI", "\\fR"}) {
                plain = Replaced(plain, font, "");
            }
            synopsis.push_back(Replaced(plain, "\\-", "-"));
        }
    }
    return synopsis;
}

// The command lines of a --help text: "usage: LINE" and the lines below it
// that start with the program's name after the indent.
std::vector<std::string> UsageOf(const std::string& help, const std::string& program) {
    std::vector<std::string> usage;
    for (const std::string& line : Lines(help)) {
        const std::string text = Trimmed(line.rfind("usage:", 0) == 0 ? line.substr(6) : line);
        if (text.rfind(program + " ", 0) == 0 || text == program) {
            usage.push_back(text);
        }
    }
    return usage;
}

// Installs the build tree into prefix with cmake --install.
void Install(const std::string& prefix) {
    const ProcessResult installed =
        RunProcess(GEOREF_CMAKE_COMMAND, {"--install", GEOREF_BINARY_DIR, "--prefix", prefix}, GEOREF_BINARY_DIR);
    ASSERT_EQ(installed.exitStatus, 0) << installed.out << installed.err;
}

TEST(Install, PutsEveryProgramWithItsManualPageAndTheDocsIntoThePrefix) {
    TempDir prefix;
    ASSERT_NO_FATAL_FAILURE(Install(prefix.Path()));
    const std::set<std::string> files = FilesBelow(prefix.Path());

    std::set<std::string> programs;
    for (const std::string& file : files) {
        const fs::path path(file);
        if (path.parent_path() == "bin") {
            programs.insert(path.filename().string());
        } else if (path.parent_path() == "share/man/man1") {
            ASSERT_EQ(path.extension(), ".1") << file;
            EXPECT_EQ(files.count("bin/" + path.stem().string()), 1u) << file << " documents no program";
        } else {
            // Nothing but the documentation besides: no libraries, headers, tests or benchmarks.
            EXPECT_EQ(path.parent_path(), "share/doc/georef") << file;
        }
    }
    for (const std::string& program : kPrograms) {
        EXPECT_EQ(programs.count(program), 1u) << program;
    }
    EXPECT_EQ(files.count("share/doc/georef/README.md"), 1u);

    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        const std::string page = prefix.File("share/man/man1/" + program + ".1");
        ASSERT_TRUE(fs::exists(page)) << "no manual page";
        const std::string exe = prefix.File("bin/" + program);
        EXPECT_NE(fs::status(exe).permissions() & fs::perms::others_exec, fs::perms::none);

        if (std::string(GEOREF_MAN_EXE).empty()) {
            std::cout << "man is not installed: manual pages not rendered\n";
        } else {
            const ProcessResult shown = RunProcess(GEOREF_MAN_EXE, {"--warnings", "-l", page}, prefix.Path());
            EXPECT_EQ(shown.exitStatus, 0);
            EXPECT_EQ(shown.err, "") << "roff warnings";
            EXPECT_NE(shown.out.find("NAME\n       " + program + " "), std::string::npos) << shown.out;
        }

        // georef keeps its command line: any other number of arguments than
        // five prints the usage text, --version included.
        const ProcessResult version = RunProcess(exe, {"--version"}, prefix.Path());
        if (program == "georef") {
            EXPECT_EQ(version.exitStatus, 2);
            EXPECT_NE(version.out.find("syntaxe :"), std::string::npos) << version.out;
            continue;
        }
        EXPECT_EQ(version.exitStatus, 0) << version.err;
        EXPECT_EQ(version.out, program + " (georef) " + GEOREF_VERSION + "\n");

        const ProcessResult help = RunProcess(exe, {"--help"}, prefix.Path());
        EXPECT_EQ(help.exitStatus, 0) << help.err;
        EXPECT_EQ(UsageOf(help.out, program), SynopsisOf(ReadFileBytes(page))) << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos);
    }
}

TEST(Install, InstalledProgramsTakeASyntheticSheetFromScanToTiles) {
    TempDir prefix;
    ASSERT_NO_FATAL_FAILURE(Install(prefix.Path()));
    const auto run = [&](const std::string& program, const std::vector<std::string>& args) {
        const ProcessResult result = RunProcess(prefix.File("bin/" + program), args, prefix.Path());
        EXPECT_EQ(result.exitStatus, 0) << program << "\n" << result.out << result.err;
        return result;
    };
    run("georef-demo-scan", {"40571", "scan.jpg", "corners.txt", "--dpi", "60"});
    run("georef-config", {"40571"});
    EXPECT_NE(run("georef-check", {"40571", "corners.txt"}).out.find("ok: every residual"), std::string::npos);
    fs::create_directory(prefix.File("tiles"));
    const ProcessResult georef = run("georef", {"40571", "corners.txt", "scan.jpg", "tiles", "40"});
    EXPECT_NE(georef.out.find("program dobehl do konce"), std::string::npos);

    int tiles = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(prefix.File("tiles"))) {
        if (entry.path().extension() == ".jpg") {
            ++tiles;
            EXPECT_TRUE(fs::exists(fs::path(entry.path()).replace_extension(".jgw"))) << entry.path();
        }
    }
    EXPECT_GT(tiles, 0);
}

// The Markdown converter on the constructs that break naive ones: roff
// control characters at line starts, backslashes, hyphens, and the
// semicolons and brackets that CMake lists split on.
TEST(ManualPage, ConverterKeepsEveryCharacterOfTheSource) {
    if (std::string(GEOREF_MAN_EXE).empty()) {
        GTEST_SKIP() << "man is not installed";
    }
    TempDir dir;
    WriteFileBytes(dir.File("tricky.1.md"),
                   "# tricky(1) -- a page; with [brackets], a back\\slash and a-hyphen\n"
                   "\n"
                   "## SYNOPSIS\n"
                   "\n"
                   "`tricky` [`--flag`] *FILE*...\n"
                   "\n"
                   "## DESCRIPTION\n"
                   "\n"
                   ".starts with a dot; [x]\n"
                   "'starts with a quote\n"
                   "\n"
                   "A code span `tiles/*.jpg` keeps its star, *italic* loses them.\n"
                   "\n"
                   "    .example; with `ticks`, *stars* and \\ itself\n"
                   "    second line\n"
                   "\n"
                   "- bullet one\n"
                   "  continued\n"
                   "* `--term` *ARG*\n"
                   "  described here\n");
    const ProcessResult converted =
        RunProcess(GEOREF_CMAKE_COMMAND,
                   {"-DINPUT=tricky.1.md", "-DOUTPUT=tricky.1", "-DPACKAGE=georef", "-DVERSION=9.9", "-P",
                    std::string(GEOREF_SOURCE_DIR) + "/docs/man/markdown_to_man.cmake"},
                   dir.Path());
    ASSERT_EQ(converted.exitStatus, 0) << converted.err;
    const ProcessResult shown =
        RunProcess("/usr/bin/env", {"MANWIDTH=200", GEOREF_MAN_EXE, "--warnings", "-l", "tricky.1"}, dir.Path());
    EXPECT_EQ(shown.err, "");
    for (const char* text : {"TRICKY(1)", "georef 9.9", "tricky - a page; with [brackets], a back\\slash and a-hyphen",
                             "tricky [--flag] FILE...", ".starts with a dot; [x] 'starts with a quote",
                             "A code span tiles/*.jpg keeps its star, italic loses them.",
                             ".example; with `ticks`, *stars* and \\ itself\n", "second line",
                             "bullet one continued", "--term ARG", "described here"}) {
        EXPECT_NE(shown.out.find(text), std::string::npos) << text << "\n" << shown.out;
    }
}

// dpkg-deb's listing of the package: the files (not directories), without
// the leading "./".
std::set<std::string> PackageFiles(const std::string& deb) {
    const ProcessResult listing = RunProcess(GEOREF_DPKG_DEB_EXE, {"-c", deb}, "/");
    EXPECT_EQ(listing.exitStatus, 0) << listing.err;
    std::set<std::string> files;
    for (const std::string& line : Lines(listing.out)) {
        const std::string path = line.substr(line.find_last_of(' ') + 1);
        if (!path.empty() && path.back() != '/' && path.rfind("./", 0) == 0) {
            files.insert(path.substr(2));
        }
    }
    return files;
}

std::string ControlField(const std::string& deb, const std::string& field) {
    const ProcessResult value = RunProcess(GEOREF_DPKG_DEB_EXE, {"-f", deb, field}, "/");
    EXPECT_EQ(value.exitStatus, 0) << value.err;
    return value.out;
}

TEST(Package, HoldsWhatCMakeInstallsAndDependsOnTheRuntimeLibraries) {
    if (std::string(GEOREF_DPKG_DEB_EXE).empty()) {
        GTEST_SKIP() << "dpkg-deb is not installed";
    }
    TempDir dist;
    const ProcessResult packed = RunProcess(
        GEOREF_CPACK_COMMAND, {"-G", "DEB", "-B", dist.Path(), "--config", "CPackConfig.cmake"}, GEOREF_BINARY_DIR);
    ASSERT_EQ(packed.exitStatus, 0) << packed.out << packed.err;
    std::vector<std::string> debs;
    for (const fs::directory_entry& entry : fs::directory_iterator(dist.Path())) {
        if (entry.path().extension() == ".deb") {
            debs.push_back(entry.path().string());
        }
    }
    ASSERT_EQ(debs.size(), 1u);
    const std::string deb = debs[0];
    EXPECT_EQ(fs::path(deb).filename().string().rfind(std::string("georef_") + GEOREF_VERSION + "_", 0), 0u) << deb;

    TempDir prefix;
    ASSERT_NO_FATAL_FAILURE(Install(prefix.Path()));
    std::set<std::string> expected;
    for (const std::string& file : FilesBelow(prefix.Path())) {
        expected.insert("usr/" + file);
    }
    EXPECT_EQ(PackageFiles(deb), expected);

    EXPECT_EQ(ControlField(deb, "Package"), "georef\n");
    EXPECT_EQ(ControlField(deb, "Version"), std::string(GEOREF_VERSION) + "\n");
    const std::vector<std::string> description = Lines(ControlField(deb, "Description"));
    ASSERT_GE(description.size(), 3u) << "a summary and a long description";
    EXPECT_NE(description[0].find("map sheets"), std::string::npos) << description[0];
    // The long description names every companion program the package holds.
    std::string longDescription;
    for (const std::string& line : description) {
        longDescription += line + " ";
    }
    for (const std::string& program : kPrograms) {
        EXPECT_NE(longDescription.find(program), std::string::npos) << program << " is not described";
    }

    // Depends: "libgdal32 (>= 3.6.2), libjpeg62-turbo (>= 1.3.1), ...".
    std::set<std::string> depends;
    std::istringstream list(ControlField(deb, "Depends"));
    for (std::string item; std::getline(list, item, ',');) {
        std::istringstream words(item);
        std::string name;
        words >> name;
        depends.insert(name);
        EXPECT_FALSE(name.size() > 4 && name.compare(name.size() - 4, 4, "-dev") == 0) << name;
    }
    for (const char* library :
         {"libgdal", "libproj", "libjpeg62-turbo", "libtesseract", "tesseract-ocr-eng", "libstdc++6", "libc6"}) {
        EXPECT_TRUE(std::any_of(depends.begin(), depends.end(),
                                [&](const std::string& name) { return name.rfind(library, 0) == 0; }))
            << "no dependency on " << library;
    }
}

}  // namespace
}  // namespace georef::test
