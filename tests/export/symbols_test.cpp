// symbols_test.cpp: the dynamic symbols of the three shared libraries.
//
// libkestrel.so exports exactly the 23 entry points of the engine's interface, libkestrelsrv.so
// exactly the five sdll entry points, and libkgdi.so exactly the functions its header declares.
// The lists are read with `nm -D --defined-only`, so any extra or missing export fails; the
// expected engine lists are written out here, independently of the version scripts. A client
// that looks up a dll entry point in libkestrelsrv.so with dlsym does not find it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

using Names = std::set<std::string>;

const Names kKestrelExports = {
    "dlldraw",     "dllsetcolor", "dllsetpath", "dllselroad",     "dllquroad",     "dllqudrroad",
    "dlldistroad", "dlldistcrrd", "dlldist44",  "dlldistxy",      "dlldistsearch", "dllfree",
    "dlldraw44",   "dllhisload",  "dllhisdraw", "dllhisfree",     "dlldrawrdtxt",  "dllquroad2",
    "sdlldraw",    "sdllinit",    "sdllgetbmp", "sdllgetimgfile", "sdllisinit"};

const Names kServerExports = {"sdlldraw", "sdllinit", "sdllgetbmp", "sdllgetimgfile", "sdllisinit"};

// The defined dynamic symbols of a shared library, as nm lists them (version suffixes cut).
Names dynamic_symbols(const std::string& library) {
    Names names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) continue;
        if (type == "A") continue;  // version definitions, not symbols
        name = name.substr(0, name.find('@'));
        names.insert(name);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return names;
}

// The function names that kgdi.h declares with its export macro.
Names kgdi_header_names() {
    std::ifstream in(KGDI_HEADER);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::regex declaration(R"(KGDI_API\s+[A-Za-z_][\w\s\*]*?\b([A-Za-z_]\w*)\s*\()");
    Names names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), declaration);
         it != std::sregex_iterator(); ++it)
        names.insert((*it)[1].str());
    return names;
}

std::string listed(const Names& names) {
    std::string out;
    for (const std::string& n : names) out += n + " ";
    return out;
}

// Names of `a` that are not in `b`.
Names missing_from(const Names& a, const Names& b) {
    Names out;
    for (const std::string& n : a)
        if (b.count(n) == 0) out.insert(n);
    return out;
}

TEST(LibrarySymbols, KestrelExportsExactlyTheTwentyThreeEntryPoints) {
    const Names got = dynamic_symbols(KESTREL_LIB);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(kKestrelExports.size(), 23u);
    EXPECT_TRUE(missing_from(got, kKestrelExports).empty())
        << "extra: " << listed(missing_from(got, kKestrelExports));
    EXPECT_TRUE(missing_from(kKestrelExports, got).empty())
        << "missing: " << listed(missing_from(kKestrelExports, got));
}

TEST(LibrarySymbols, KestrelsrvExportsExactlyTheFiveServerEntryPoints) {
    const Names got = dynamic_symbols(KESTRELSRV_LIB);
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(missing_from(got, kServerExports).empty())
        << "extra: " << listed(missing_from(got, kServerExports));
    EXPECT_TRUE(missing_from(kServerExports, got).empty())
        << "missing: " << listed(missing_from(kServerExports, got));
}

TEST(LibrarySymbols, KgdiExportsExactlyTheFunctionsOfItsHeader) {
    const Names header = kgdi_header_names();
    ASSERT_GT(header.size(), 30u);
    EXPECT_TRUE(header.count("GetDIBits") == 1 && header.count("KgdiGetSurface") == 1);
    const Names got = dynamic_symbols(KGDI_LIB);
    EXPECT_TRUE(missing_from(got, header).empty())
        << "extra: " << listed(missing_from(got, header));
    EXPECT_TRUE(missing_from(header, got).empty())
        << "missing: " << listed(missing_from(header, got));
}

TEST(LibrarySymbols, DlsymFindsOnlyTheServerEntryPointsInKestrelsrv) {
    void* lib = dlopen(KESTRELSRV_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const std::string& name : kServerExports)
        EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    for (const std::string& name : kKestrelExports) {
        if (kServerExports.count(name) != 0) continue;
        EXPECT_EQ(dlsym(lib, name.c_str()), nullptr) << name << " is visible in kestrelsrv";
    }
    dlclose(lib);
}

TEST(LibrarySymbols, DlsymFindsEveryEntryPointInKestrel) {
    void* lib = dlopen(KESTREL_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const std::string& name : kKestrelExports)
        EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "_ZN7kestrel6render10view_stateEv"), nullptr);  // internals stay hidden
    dlclose(lib);
}

}  // namespace
