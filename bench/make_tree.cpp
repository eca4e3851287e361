// pellatrix_make_tree: writes one reproducible benchmark tree, for trying a shape by hand.
#include "tree_generator.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: pellatrix_make_tree ROOT [--restore] [--levels 20,99] [--files 10] "
                 "[--size 2048] [--read-only 0.25] [--seed 1]\n"
                 "  ROOT must not exist; --levels gives the subfolders per folder at "
                 "each level (empty: one flat folder)\n"
                 "  --restore makes the tree's read-only files read-only again\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace pellatrix::bench;
    if (argc < 2 || argv[1][0] == '-')
        return usage();
    bool restore = false; // make the same files read-only again instead of writing the tree
    TreeShape shape;
    shape.foldersPerLevel = {20, 99};
    int first = 2;
    if (argc > 2 && std::string(argv[2]) == "--restore") {
        restore = true;
        first = 3;
    }
    if ((argc - first) % 2 != 0)
        return usage();
    for (int i = first; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--levels")
            shape.foldersPerLevel = parseLevels(value);
        else if (option == "--files")
            shape.filesPerFolder = static_cast<unsigned>(std::stoul(value));
        else if (option == "--size")
            shape.fileSize = std::stoull(value);
        else if (option == "--read-only")
            shape.readOnlyShare = std::stod(value);
        else if (option == "--seed")
            shape.seed = std::stoull(value);
        else
            return usage();
    }
    try {
        if (restore) {
            std::printf("%llu files made read-only again\n",
                        static_cast<unsigned long long>(restoreReadOnly(argv[1], shape)));
            return 0;
        }
        const TreeSize size = generateTree(argv[1], shape);
        std::printf("%llu folders, %llu files (%llu read-only), %llu bytes\n",
                    static_cast<unsigned long long>(size.folders),
                    static_cast<unsigned long long>(size.files),
                    static_cast<unsigned long long>(size.readOnlyFiles),
                    static_cast<unsigned long long>(size.bytes));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pellatrix_make_tree: %s\n", error.what());
        return 1;
    }
    return 0;
}
