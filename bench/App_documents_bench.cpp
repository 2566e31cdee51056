// The document list at the size users reach: 200,000 real files in 100
// folders. Compares making the entries with find(1) reading the same facts,
// the locale sorts with sort(1) -f over the same paths in the same locale,
// and prints deleting every other entry and the memory an entry costs.
//
// Usage: App_documents_bench [TREE_DIR]
// The tree is made once (default $TMPDIR/dorvane-bench-tree) and reused. The
// sorts run under en_US.UTF-8; when the system lacks that locale it is
// compiled once into the tree's directory for sort(1) (ICU has its own data).

#include "App_documents.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int FolderCount = 100;
constexpr int FilesPerFolder = 2000;
constexpr int Repeats = 3;

const char* const Extensions[] = {".txt", ".pdf", ".odt", ".jpg", ".png", ".mp3", ".csv", ".html", ".c", ".tar.gz"};
const char* const Words[] = {"Résumé", "ångström", "Zoë notes", "Ärger", "bericht", "Čeština", "naïve plan",
                             "Übersicht", "report", "Ølfest", "señal", "draft"};

using TClock = std::chrono::steady_clock;

// Wall time and CPU time: the machine is shared, so a run can wait for a core;
// the CPU time shows the work itself.
struct TTiming {
    double Wall = 1e30;
    double Cpu = 1e30;
    void Keep(const TTiming& t)
    {
        Wall = std::min(Wall, t.Wall);
        Cpu = std::min(Cpu, t.Cpu);
    }
};

double Seconds(TClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double ProcessCpu()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ChildrenCpu()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Best of Repeats runs of f in this process.
TTiming Measure(const std::function<void()>& prepare, const std::function<void()>& f)
{
    TTiming best;
    for (int i = 0; i < Repeats; ++i) {
        prepare();
        const auto wall = TClock::now();
        const double cpu = ProcessCpu();
        f();
        best.Keep({Seconds(TClock::now() - wall), ProcessCpu() - cpu});
    }
    return best;
}

// Best of Repeats runs of a shell command; its CPU time is its children's.
TTiming MeasureCommand(const std::string& command)
{
    TTiming best;
    for (int i = 0; i < Repeats; ++i) {
        const auto wall = TClock::now();
        const double cpu = ChildrenCpu();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
        best.Keep({Seconds(TClock::now() - wall), ChildrenCpu() - cpu});
    }
    return best;
}

std::string Quote(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string FolderName(int folder)
{
    char name[64];
    std::snprintf(name, sizeof(name), "Dossier %03d %s", folder, Words[folder % 12]);
    return name;
}

// Every path of the tree, made once; a marker file says the tree is complete.
std::vector<std::string> MakeTree(const std::string& root)
{
    const std::string marker = root + "/.complete";
    const bool present = Exists(marker);
    if (!present) {
        std::printf("Making %d files under %s ...\n", FolderCount * FilesPerFolder, root.c_str());
        ::mkdir(root.c_str(), 0755);
    }
    std::vector<std::string> paths;
    paths.reserve(FolderCount * FilesPerFolder);
    std::mt19937 random(7);
    for (int folder = 0; folder < FolderCount; ++folder) {
        const std::string dir = root + "/" + FolderName(folder);
        if (!present)
            ::mkdir(dir.c_str(), 0755);
        for (int file = 0; file < FilesPerFolder; ++file) {
            char name[128];
            std::snprintf(name, sizeof(name), "%s %s %05u%s", Words[random() % 12], Words[random() % 12],
                          static_cast<unsigned>(random() % 100000), Extensions[file % 10]);
            std::string path = dir + "/" + std::to_string(file) + " " + name;
            const auto size = static_cast<off_t>(random() % 5000000); // drawn alike when reusing
            if (!present) {
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0 || ::ftruncate(fd, size) != 0) {
                    std::perror(path.c_str());
                    std::exit(1);
                }
                ::close(fd);
            }
            paths.push_back(std::move(path));
        }
    }
    if (!present)
        std::ofstream(marker) << "complete\n";
    return paths;
}

// en_US.UTF-8 for glibc: the system's, or one compiled into a private
// directory passed to sort(1) by LOCPATH. Empty when neither is possible.
std::string PrepareLocale(const std::string& base, std::string& locpath)
{
    if (std::setlocale(LC_ALL, "en_US.UTF-8")) {
        std::setlocale(LC_ALL, "C");
        return "en_US.UTF-8";
    }
    const std::string dir = base + "/dorvane-bench-locales";
    if (!Exists(dir + "/en_US.UTF-8/LC_COLLATE")) {
        ::mkdir(dir.c_str(), 0755);
        const std::string command = "localedef -i en_US -f UTF-8 " + Quote(dir + "/en_US.UTF-8") + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 && !Exists(dir + "/en_US.UTF-8/LC_COLLATE"))
            return {};
    }
    locpath = dir;
    return "en_US.UTF-8";
}

// Puts the model back into the order of order, so each sort starts alike.
void RestoreOrder(TDocumentEntriesModel& model, const std::vector<TDocumentEntry*>& order)
{
    std::unordered_map<const TDocumentEntry*, int> position;
    position.reserve(order.size());
    for (int i = 0; i < model.GetCount(); ++i)
        position.emplace(model.GetItem(i), i);
    TReorderRecords records;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const int from = position.at(order[i]);
        if (from != static_cast<int>(i))
            records.push_back({from, static_cast<int>(i)});
    }
    model.Reorder(records);
}

void PrintRow(const std::string& what, const TTiming& ours, const std::string& peerName, const TTiming& peer,
              const std::string& goal)
{
    std::printf("%-26s %8.1f %8.1f   %-9s %8.1f %8.1f   %6.3fx %6.3fx   %s\n", what.c_str(), ours.Wall * 1000,
                ours.Cpu * 1000, peerName.c_str(), peer.Wall * 1000, peer.Cpu * 1000, ours.Wall / peer.Wall,
                ours.Cpu / peer.Cpu, goal.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    const std::string root = argc > 1 ? argv[1] : base + "/dorvane-bench-tree";

    // The locale must be in the environment before Qt first reads it.
    std::string locpath;
    std::string locale = PrepareLocale(base, locpath);
    const bool fallback = locale.empty();
    if (fallback)
        locale = "C.UTF-8";
    setenv("LC_ALL", locale.c_str(), 1);
    const std::string sortEnv = "LC_ALL=" + locale + (locpath.empty() ? "" : " LOCPATH=" + Quote(locpath));

    // Added folder by folder, as a dialog or a drop hands them over.
    const std::vector<std::string> paths = MakeTree(root);
    double pathBytes = 0;
    for (const std::string& path : paths)
        pathBytes += static_cast<double>(path.size());
    pathBytes /= static_cast<double>(paths.size());

    // Warm the page cache and the type cache (its first question loads the
    // desktop's MIME database, which is not an entry's cost).
    const std::string findCommand = "find " + Quote(root) + " -type f -printf '%s %T@ %p\\n' > /dev/null";
    MeasureCommand(findCommand);
    {
        TStringDynArray samples(paths.begin(), paths.begin() + 50);
        samples.push_back(root);
        benchmark::DoNotOptimize(CreateDocumentEntries(samples).size());
    }

    // Memory: the first batch, before any freed heap could hide its growth.
    TDocumentEntriesModel model;
    const long residentBefore = ResidentBytes();
    model.Add(CreateDocumentEntries(paths));
    const long residentAfter = ResidentBytes();
    const double bytesPerEntry = static_cast<double>(residentAfter - residentBefore) / static_cast<double>(paths.size());

    const TTiming create = Measure([] {}, [&] { benchmark::DoNotOptimize(CreateDocumentEntries(paths).size()); });
    const TTiming find = MeasureCommand(findCommand);

    // The sorts start from one random order; sort(1) reads the paths in it.
    std::vector<TDocumentEntry*> shuffled;
    for (int i = 0; i < model.GetCount(); ++i)
        shuffled.push_back(model.GetItem(i));
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
    const std::string pathsFile = base + "/dorvane-bench-paths.txt";
    {
        std::ofstream out(pathsFile);
        for (const TDocumentEntry* entry : shuffled)
            out << entry->Path() << '\n';
    }
    auto sortTime = [&](void (TDocumentEntriesModel::*sort)()) {
        return Measure([&] { RestoreOrder(model, shuffled); }, [&] { (model.*sort)(); });
    };
    const TTiming byPath = sortTime(&TDocumentEntriesModel::SortByPath);
    const TTiming byName = sortTime(&TDocumentEntriesModel::SortByName);
    const TTiming byType = sortTime(&TDocumentEntriesModel::SortByType);
    const TTiming peerSort = MeasureCommand(sortEnv + " sort -f " + Quote(pathsFile) + " > /dev/null");

    TIntegerDynArray everyOther;
    for (int i = 0; i < model.GetCount(); i += 2)
        everyOther.push_back(i);
    TTiming deletion;
    {
        // Each run deletes from its own full list.
        std::vector<TDocumentEntriesModel> models(Repeats);
        int run = 0;
        deletion = Measure([&] { models[run].Add(CreateDocumentEntries(paths)); },
                           [&] { models[run++].Delete(everyOther); });
    }

    std::printf("\n%zu entries, %d folders, %zu extensions; locale %s%s\n", paths.size(), FolderCount,
                std::size(Extensions), locale.c_str(),
                fallback ? " (en_US.UTF-8 could not be made; C.UTF-8 instead)"
                         : (locpath.empty() ? "" : " (compiled privately for sort(1))"));
    std::printf("times in ms, best of %d runs; load average now %s\n\n", Repeats, LoadAverage().c_str());
    std::printf("%-26s %8s %8s   %-9s %8s %8s   %7s %7s   %s\n", "operation", "wall", "cpu", "peer", "wall", "cpu",
                "wall", "cpu", "goal");
    PrintRow("make 200,000 entries", create, "find", find, "<= 1.50x find");
    PrintRow("SortByPath", byPath, "sort -f", peerSort, "<= 0.50x sort -f");
    PrintRow("SortByName", byName, "sort -f", peerSort, "");
    PrintRow("SortByType", byType, "sort -f", peerSort, "");
    PrintRow("Delete every other", deletion, "making", create, "< 0.05x making");
    std::printf("%-26s %8.1f B per entry; path + 128 = %.1f B (paths average %.1f B): %.2fx, goal <= 1.00x\n",
                "resident memory", bytesPerEntry, pathBytes + 128, pathBytes, bytesPerEntry / (pathBytes + 128));
    return 0;
}
