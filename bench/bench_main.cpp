// pellatrix_bench: our copy and walk against cp -r and chmod -R u+w on generated trees, in
// alternating paired runs; prints Markdown tables of medians and paired ratios.
#include "our_code.h"
#include "paired_runs.h"
#include "tree_generator.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ftw.h>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace pellatrix::bench;

namespace {

struct Options {
    std::string work = "/tmp/pellatrix-bench-" + std::to_string(getpid());
    int rounds = 7;
    std::set<std::string> cases; // empty: all
    bool wants(const std::string& name) const { return cases.empty() || cases.count(name); }
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void note(const std::string& text) {
    std::fprintf(stderr, "-- %s\n", text.c_str());
}

std::string describe(const TreeSize& size) {
    return std::to_string(size.files) + " files in " + std::to_string(size.folders + 1) +
           " folders, " + std::to_string(size.readOnlyFiles) + " read-only";
}

std::string tree(const std::string& root, const TreeShape& shape, TreeSize* size = nullptr) {
    fs::remove_all(root);
    const TreeSize made = generateTree(root, shape);
    note("generated " + root + ": " + describe(made));
    if (size)
        *size = made;
    return root;
}

std::string kib(long value) {
    return std::to_string((value + 512) / 1024) + " MiB";
}

void printRow(const std::string& label, const PairedResult& r) {
    std::printf("| %s | %.3f s | %.3f s | %.2f | %.2f | %s | %s |\n", label.c_str(), r.oursMedian(),
                r.peerMedian(), r.ratioMedian(), r.cpuRatioMedian(), kib(r.oursPeakKiB).c_str(),
                kib(r.peerPeakKiB).c_str());
    std::fflush(stdout);
}

void printHeader(const std::string& title, const std::string& peer) {
    std::printf("\n**%s**\n\n| case | ours (median) | %s (median) | ratio (median of pairs) | "
                "CPU-time ratio | peak memory, ours | peak memory, peer |\n"
                "|---|---|---|---|---|---|---|\n",
                title.c_str(), peer.c_str());
}

Contender ourWalk(const std::string& root, const TreeShape& shape) {
    return {[=] { restoreReadOnly(root, shape); },
            [=] {
                return runForked([=] {
                    walkWithOurCode(root);
                    return true;
                });
            }};
}

Contender chmodWalk(const std::string& root, const TreeShape& shape) {
    return {[=] { restoreReadOnly(root, shape); },
            [=] {
                return runProgram({"chmod", "-R", "u+w", root});
            }};
}

// Counts the files under root with no write bit; -1 when it cannot be walked.
long long readOnlyFilesUnder(const std::string& root) {
    static long long count;
    count = 0;
    const int rc = nftw(
        root.c_str(),
        [](const char*, const struct stat* st, int type, struct FTW*) {
            if (type == FTW_F && (st->st_mode & 0222) == 0)
                ++count;
            return 0;
        },
        64, FTW_PHYS);
    return rc == 0 ? count : -1;
}

// The main tree: 20 folders of 99 folders, 10 files of 2 KiB in each and in the root.
TreeShape mainShape() {
    TreeShape shape;
    shape.foldersPerLevel = {20, 99};
    return shape;
}

// Destinations for copies: a fresh folder for every run, all removed at the end. Removing the
// last copy before the next would time something else: ext4 without a journal passes over
// inodes freed in the last 5 to 10 seconds when it allocates, which can cost more than the copy.
class Destinations {
  public:
    explicit Destinations(std::string base) : base_(std::move(base)) {}
    ~Destinations() {
        for (int i = 1; i <= count_; ++i)
            fs::remove_all(base_ + std::to_string(i));
    }
    void next() { ++count_; }
    std::string current() const { return base_ + std::to_string(count_); }

  private:
    std::string base_;
    int count_ = 0;
};

// Waits until the inodes freed by removing trees no longer slow down making new files.
void settle() {
    std::this_thread::sleep_for(std::chrono::seconds(11));
}

// The whole program, answered in a pseudo-terminal with its progress shown there, against the
// same copy and walk with nothing shown: what the display costs. The program copies the
// folder Model of its current directory into C:, its own data folder (XDG_DATA_HOME), made
// anew for every run.
void programInTerminal(const Options& options, const std::string& model) {
    const auto homes = std::make_shared<Destinations>(options.work + "/program-");
    const auto next = [=] {
        homes->next();
        fs::create_directories(homes->current());
    };
    std::vector<std::string> baseEnvironment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view text = *variable;
        if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY=") &&
            !text.starts_with("XDG_DATA_HOME=") && !text.starts_with("HOME="))
            baseEnvironment.emplace_back(text);
    }
    const std::string work = fs::path(model).parent_path().string();
    const Contender program{next, [=] {
                                std::vector<std::string> env = baseEnvironment;
                                env.push_back("XDG_DATA_HOME=" + homes->current());
                                env.push_back("HOME=" + work);
                                return runInTerminal(
                                    {PELLATRIX_PROGRAM}, work, env,
                                    {{"Yes / No [Yes]: ", "\r"}, {"OK [Enter]: ", "\r"}});
                            }};
    const Contender quiet{next, [=] {
                              return runForked([=] {
                                  const std::string dest = homes->current() + "/Tolvex/Model";
                                  const bool copied = copyWithOurCode(model, dest);
                                  walkWithOurCode(dest);
                                  return copied;
                              });
                          }};
    settle();
    const PairedResult result = runPaired(program, quiet, options.rounds);
    if (readOnlyFilesUnder(homes->current()) != 0)
        throw std::runtime_error("the program left read-only files");
    printRow("the program in a terminal vs the same copy then walk shown nowhere", result);
}

// Our install as the program makes it (the copy, then the walk, which syncs what it changed as
// it ends), run in a child process.
RunResult installWithOurCode(const std::string& from, const std::string& to) {
    return runForked([=] {
        const bool copied = copyWithOurCode(from, to);
        walkWithOurCode(to);
        return copied;
    });
}

using Commands = std::vector<std::vector<std::string>>;

// Our install of model against the peer's commands for a destination, both into a fresh
// destination each round; neither may leave a read-only file.
void compareInstalls(const Options& options, const std::string& model, const std::string& name,
                     const std::function<Commands(const std::string&)>& peerCommands,
                     const std::string& label) {
    const auto dests = std::make_shared<Destinations>(options.work + "/" + name + "-");
    const auto next = [=] { dests->next(); };
    const Contender ours{next, [=] { return installWithOurCode(model, dests->current()); }};
    const Contender peer{next, [=] { return runPrograms(peerCommands(dests->current())); }};
    settle();
    const PairedResult result = runPaired(ours, peer, options.rounds);
    if (readOnlyFilesUnder(dests->current()) != 0)
        throw std::runtime_error(label + ": a read-only file was left");
    printRow(label, result);
}

void copyAndWalk(const Options& options) {
    const TreeShape shape = mainShape();
    TreeSize size;
    const std::string model = tree(options.work + "/Model", shape, &size);
    printHeader("Copy and walk: " + describe(size) + ", 2 KiB each", "peer");
    if (options.wants("copy-walk"))
        compareInstalls(
            options, model, "copy-walk",
            [=](const std::string& to) {
                return Commands{{"cp", "-r", model, to}, {"chmod", "-R", "u+w", to}};
            },
            "copy then walk vs cp -r then chmod -R u+w");
    if (options.wants("copy")) {
        const auto dests = std::make_shared<Destinations>(options.work + "/copy-");
        const auto next = [=] { dests->next(); };
        const Contender ours{
            next,
            [=] { return runForked([=] { return copyWithOurCode(model, dests->current()); }); }};
        const Contender cp{next, [=] { return runProgram({"cp", "-r", model, dests->current()}); }};
        settle();
        printRow("copy alone vs cp -r", runPaired(ours, cp, options.rounds));
    }
    if (options.wants("walk"))
        printRow("walk alone vs chmod -R u+w",
                 runPaired(ourWalk(model, shape), chmodWalk(model, shape), options.rounds));
    if (options.wants("program"))
        programInTerminal(options, model);
    fs::remove_all(model);
}

// The CD-like medium: 10,000 files of 2 KiB in 100 folders, every file read-only, installed
// as the program installs it (copy, walk, everything on the disk at the end) against cp, chmod
// and a sync of the same file system: first into nothing, then over the files of an earlier
// install.
void cdMedium(const Options& options) {
    TreeShape shape;
    shape.foldersPerLevel = {99};
    shape.filesPerFolder = 100;
    shape.readOnlyShare = 1;
    TreeSize size;
    const std::string model = tree(options.work + "/CD", shape, &size);
    printHeader("A CD-like medium: " + describe(size) + ", 2 KiB each", "peer");
    if (options.wants("cd-first"))
        compareInstalls(
            options, model, "cd-first",
            [=](const std::string& to) {
                return Commands{
                    {"cp", "-r", model, to}, {"chmod", "-R", "u+w", to}, {"sync", "-f", to}};
            },
            "first install vs cp -r, chmod -R u+w, sync -f");
    if (options.wants("cd-again")) {
        // Each installs over the files that its first install left, round after round.
        const std::string oursThere = options.work + "/cd-again-ours";
        const std::string peerThere = options.work + "/cd-again-peer";
        if (!installWithOurCode(model, oursThere).ok ||
            !runPrograms({{"cp", "-r", model, peerThere}, {"chmod", "-R", "u+w", peerThere}}).ok)
            throw std::runtime_error("the first install of the CD-like medium failed");
        const Contender ours{[] {}, [=] { return installWithOurCode(model, oursThere); }};
        const Contender peer{[] {},
                             [=] {
                                 return runPrograms({{"cp", "-rT", model, peerThere},
                                                     {"chmod", "-R", "u+w", peerThere},
                                                     {"sync", "-f", peerThere}});
                             }};
        settle();
        printRow("re-install vs cp -rT, chmod -R u+w, sync -f",
                 runPaired(ours, peer, options.rounds));
        if (readOnlyFilesUnder(oursThere) != 0)
            throw std::runtime_error("the re-install left read-only files");
        fs::remove_all(oursThere);
        fs::remove_all(peerThere);
    }
    fs::remove_all(model);
}

void scaling(const Options& options) {
    printHeader("The walk as the tree grows (empty files, a quarter read-only)", "chmod -R u+w");
    for (const bool deep : {false, true}) {
        double previous = 0;
        for (const unsigned step : {1u, 2u, 4u, 8u}) {
            TreeShape shape;
            shape.fileSize = 0;
            if (deep) {
                // Folders of 9 files: 10 folders of 10 folders of (10 x step - 1) folders.
                shape.foldersPerLevel = {10, 10, 10 * step - 1};
                shape.filesPerFolder = 9;
            } else {
                shape.foldersPerLevel = {};
                shape.filesPerFolder = 10000 * step;
            }
            const TreeSize size = sizeOf(shape);
            const std::string root = tree(options.work + "/scale", shape);
            const PairedResult r =
                runPaired(ourWalk(root, shape), chmodWalk(root, shape), options.rounds);
            char label[160];
            int length =
                std::snprintf(label, sizeof label, "%s, %llu entries", deep ? "deep" : "flat",
                              static_cast<unsigned long long>(size.entries()));
            if (previous > 0)
                std::snprintf(label + length, sizeof label - static_cast<std::size_t>(length),
                              " (ours %.2f times the half size)", r.oursMedian() / previous);
            printRow(label, r);
            previous = r.oursMedian();
            fs::remove_all(root);
        }
    }
}

void hundredThousand(const Options& options) {
    TreeShape shape;
    shape.foldersPerLevel = {};
    shape.filesPerFolder = 100000;
    shape.fileSize = 0;
    const std::string root = tree(options.work + "/flat100k", shape);
    const RunResult r = runForked([=] {
        walkWithOurCode(root);
        return true;
    });
    const long long left = readOnlyFilesUnder(root);
    std::printf("\n100,000 files in one folder: the walk %s in %.3f s, peak memory %s, %lld "
                "read-only files left\n",
                r.ok ? "ran" : "FAILED", r.seconds, kib(r.peakKiB).c_str(), left);
    fs::remove_all(root);
    if (!r.ok || left != 0)
        throw std::runtime_error("the walk of 100,000 files in one folder failed");
}

void largeFiles(const Options& options) {
    TreeShape shape;
    shape.foldersPerLevel = {};
    shape.filesPerFolder = 3;
    shape.fileSize = 200ull << 20;
    shape.readOnlyShare = 0;
    const std::string model = tree(options.work + "/Large", shape);
    const std::string dest = options.work + "/large-dest";
    const auto removeDest = [=] { fs::remove_all(dest); };
    printHeader("Large files: 3 files of 200 MiB", "cp -r");
    const Contender ours{removeDest,
                         [=] { return runForked([=] { return copyWithOurCode(model, dest); }); }};
    const Contender cp{removeDest, [=] { return runProgram({"cp", "-r", model, dest}); }};
    printRow("copy vs cp -r", runPaired(ours, cp, std::max(3, options.rounds / 2)));
    removeDest();
    fs::remove_all(model);
}

int usage() {
    std::fprintf(stderr,
                 "usage: pellatrix_bench [--rounds N] [--work DIR] [--case NAME]...\n"
                 "       pellatrix_bench --walk-once DIR | --copy-once SOURCE DESTINATION\n"
                 "  cases: copy-walk, copy, walk, program, cd-first, cd-again, scaling, 100k, "
                 "large (all when none is named)\n"
                 "  DIR must be on the disk under test; it is removed afterwards\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // One run in this process, for profiling (strace -c, valgrind --tool=callgrind).
    // Prints the seconds it took on stderr.
    if (argc == 3 && std::strcmp(argv[1], "--walk-once") == 0) {
        const auto start = std::chrono::steady_clock::now();
        walkWithOurCode(argv[2]);
        std::fprintf(stderr, "%.4f\n", secondsSince(start));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--copy-once") == 0) {
        const auto start = std::chrono::steady_clock::now();
        const bool copied = copyWithOurCode(argv[2], argv[3]);
        std::fprintf(stderr, "%.4f\n", secondsSince(start));
        return copied ? 0 : 1;
    }
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (arg == "--rounds")
            options.rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--work")
            options.work = argv[++i];
        else if (arg == "--case")
            options.cases.insert(argv[++i]);
        else
            return usage();
    }
    umask(022);
    int status = 0;
    try {
        if (fs::exists(options.work))
            throw std::runtime_error(options.work + " exists already");
        fs::create_directories(options.work);
        std::printf("%d rounds per case, ours and the peer alternating; times are wall-clock "
                    "medians, ratio is the median of ours/peer per round.\n",
                    options.rounds);
        if (options.wants("copy-walk") || options.wants("copy") || options.wants("walk") ||
            options.wants("program"))
            copyAndWalk(options);
        if (options.wants("cd-first") || options.wants("cd-again"))
            cdMedium(options);
        if (options.wants("scaling"))
            scaling(options);
        if (options.wants("100k"))
            hundredThousand(options);
        if (options.wants("large"))
            largeFiles(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pellatrix_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(options.work, ignored);
    return status;
}
