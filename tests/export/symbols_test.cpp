// symbols_test.cpp: the dynamic symbols of the three shared libraries.
//
// libkestrel.so and libkestrelsrv.so export exactly the functions of their columns of the
// engine's export list (engine/exports.list, from which the build writes their version
// scripts), and kestrel.h declares exactly the functions of the list; libkgdi.so exports exactly
// the functions its header declares. The symbols are read with `nm -D --defined-only`, so any
// extra or missing export fails. A client that looks up a dll entry point in libkestrelsrv.so
// with dlsym does not find it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Names = std::set<std::string>;

// The names of the export list's column `library` (those with an ordinal there).
Names listed_exports(const std::string& library) {
    std::ifstream in(KESTREL_EXPORT_LIST);
    Names names;
    int column = -1;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::vector<std::string> row{std::istream_iterator<std::string>(fields), {}};
        if (column < 0) {
            column = static_cast<int>(std::find(row.begin(), row.end(), library) - row.begin());
            continue;
        }
        if (column < static_cast<int>(row.size()) && row[column] != "-") names.insert(row[0]);
    }
    EXPECT_FALSE(names.empty()) << "no column " << library << " in " << KESTREL_EXPORT_LIST;
    return names;
}

const Names kKestrelExports = listed_exports("kestrel");
const Names kServerExports = listed_exports("kestrelsrv");

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

// The function names that a header declares with its export macro at the start of a line.
Names header_names(const char* header, const std::string& macro) {
    std::ifstream in(header);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::regex declaration("\n" + macro + R"(\s+[A-Za-z_][\w\s\*]*?\b([A-Za-z_]\w*)\s*\()");
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

TEST(LibrarySymbols, KestrelHeaderDeclaresExactlyTheListedExports) {
    const Names header = header_names(KESTREL_HEADER, "KESTREL_API");
    EXPECT_TRUE(missing_from(header, kKestrelExports).empty())
        << "not in the export list: " << listed(missing_from(header, kKestrelExports));
    EXPECT_TRUE(missing_from(kKestrelExports, header).empty())
        << "not declared in kestrel.h: " << listed(missing_from(kKestrelExports, header));
    EXPECT_TRUE(missing_from(kServerExports, kKestrelExports).empty())
        << "server entry points missing from kestrel: "
        << listed(missing_from(kServerExports, kKestrelExports));
}

TEST(LibrarySymbols, KestrelExportsExactlyTheListedEntryPoints) {
    const Names got = dynamic_symbols(KESTREL_LIB);
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(missing_from(got, kKestrelExports).empty())
        << "extra: " << listed(missing_from(got, kKestrelExports));
    EXPECT_TRUE(missing_from(kKestrelExports, got).empty())
        << "missing: " << listed(missing_from(kKestrelExports, got));
}

TEST(LibrarySymbols, KestrelsrvExportsExactlyTheListedServerEntryPoints) {
    const Names got = dynamic_symbols(KESTRELSRV_LIB);
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(missing_from(got, kServerExports).empty())
        << "extra: " << listed(missing_from(got, kServerExports));
    EXPECT_TRUE(missing_from(kServerExports, got).empty())
        << "missing: " << listed(missing_from(kServerExports, got));
}

TEST(LibrarySymbols, KgdiExportsExactlyTheFunctionsOfItsHeader) {
    const Names header = header_names(KGDI_HEADER, "KGDI_API");
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
