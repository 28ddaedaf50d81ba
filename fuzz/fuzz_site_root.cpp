// Finding the site in an unpacked archive, over generated trees: nested folders, "www"
// folders, the marker files and folders, hidden entries, and links (also links to a site
// outside the tree and links that loop). The answer is the tree itself or a real directory
// inside it, and the search ends.

#include "fuzz_sandbox.h"
#include "fuzz_support.h"
#include "update/site_root.h"

#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

FuzzSandbox sandbox;

const char* const kNames[] = {"www",     "index.php", "include", "LibZelto", "Data",     "data",
                              "install", ".hidden",   "site",    "a",        "__MACOSX", "._www"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const fs::path tree = sandbox.root / "tree";
    const fs::path outside = sandbox.root / "outside";
    FuzzSandbox::reset(tree);
    FuzzSandbox::reset(outside);
    // A complete site outside the tree, for links to lead to.
    fs::create_directories(outside / "www" / "include");
    std::ofstream(outside / "www" / "index.php") << "<?php";

    std::vector<fs::path> dirs = {tree};
    for (int n = 0; n < 40 && !in.empty(); ++n) {
        const uint8_t op = in.byte();
        const fs::path parent = dirs[in.byte() % dirs.size()];
        const uint8_t pick = in.byte();
        QByteArray raw = in.bytes(12);
        raw.replace('/', '_').replace('\0', '_');
        const std::string name =
            pick < sizeof kNames / sizeof *kNames * 16
                ? kNames[pick % (sizeof kNames / sizeof *kNames)]
                : (raw.isEmpty() || raw == "." || raw == ".." ? std::string("x")
                                                              : raw.toStdString());
        const fs::path path = parent / name;
        std::error_code ec;
        switch (op % 5) {
        case 0:
        case 1:
            if (fs::create_directory(path, ec))
                dirs.push_back(path);
            break;
        case 2:
            std::ofstream(path) << "x";
            break;
        case 3: // a link to a directory of the tree: loops are possible
            fs::create_directory_symlink(dirs[in.byte() % dirs.size()], path, ec);
            break;
        default: // a link to the site outside
            fs::create_directory_symlink(outside / (op & 0x10 ? "www" : ""), path, ec);
            break;
        }
    }

    const QString root = FuzzSandbox::qt(tree);
    for (const std::optional<QString>& found :
         {update::resolveUpdateWebSource(root), update::wwwWithIndex(root)}) {
        if (!found)
            continue;
        const fs::path p = found->toStdString();
        FUZZ_CHECK(fs::is_directory(p));
        FUZZ_CHECK(isWithin(p, tree));
    }
    return 0;
}
