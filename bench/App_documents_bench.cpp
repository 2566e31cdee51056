// The document list at the sizes users reach.
//
// "data": 200,000 real files in 100 folders. Making the entries against
// find(1) reading the same facts, the locale sorts against sort(1) -f over the
// same paths in the same locale, deleting every other entry, and the memory
// an entry costs.
// "view": the model, the selection and the list view together (offscreen,
// 800 x 600), each change measured up to and including the view's next paint,
// at 100,000 and 1,000,000 rows (five linked copies of the tree give a million
// distinct paths).
//
// Usage: App_documents_bench [data|view] [TREE_DIR]   (both parts by default)
// The tree is made once (default $TMPDIR/dorvane-bench-tree) and reused. The
// sorts run under en_US.UTF-8; when the system lacks that locale it is
// compiled once into $TMPDIR for sort(1) (ICU has its own data).

#include "App_documents.h"
#include "Zel_listviews.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

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

void RunData(const std::string& base, const std::string& root, const std::string& locale, bool fallback,
             const std::string& locpath)
{
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
}

// Everything Qt still has to do for the change, then the paint itself.
void PaintNow(TVirtualListView& view)
{
    QCoreApplication::processEvents();
    view.viewport()->repaint();
}

// The document list as the main form puts it together.
struct TDocumentList {
    TDocumentEntriesModel Model;
    TVirtualListView View;
    TDocumentEntriesSelection Selection{Model, View};
    TDocumentEntriesCommands Commands{Model, Selection};

    TDocumentList()
    {
        Model.OnAdded = [this](TDocumentEntriesModel& m, const TIntegerDynArray& i) { Selection.EntriesAdded(m, i); };
        Model.OnDeleted = [this](TDocumentEntriesModel& m, const TIntegerDynArray& i) {
            Selection.EntriesDeleted(m, i);
        };
        Model.OnCleared = [this](TDocumentEntriesModel& m) { Selection.EntriesCleared(m); };
        Model.OnReordered = [this](TDocumentEntriesModel& m, const TReorderRecords& r) {
            Selection.EntriesReordered(m, r);
        };
        Model.OnChanged = [this](TDocumentEntriesModel& m, const TIntegerDynArray& i) {
            Selection.EntriesChanged(m, i);
        };
        View.SetColumns({{"Name", 200}, {"Directory", 150}, {"Size", 80, TAlignment::RightJustify}, {"Type", 120},
                         {"Last write time", 130}, {"Result", 60}});
        View.OnData = [this](TVirtualListView&, int row, TListItem& item) {
            const TDocumentEntry& entry = *Model.GetItem(row);
            item.Caption = entry.GetNameText();
            item.SubItems = {entry.GetDirectoryText(), entry.GetSizeText(), entry.GetTypeText(),
                             entry.GetLastWriteTimeText(), entry.GetResultText()};
            item.ImageIndex = entry.GetImageIndex();
            item.StateIndex = entry.GetResultImageIndex();
        };
        View.resize(800, 600);
        View.show();
    }

    void SelectEveryOther()
    {
        TIntegerDynArray rows;
        for (int i = 0; i < Model.GetCount(); i += 2)
            rows.push_back(i);
        SetListViewSelection(View, rows);
        PaintNow(View);
    }
};

struct TViewTimings {
    TTiming SelectAll, ReverseSelection, MoveDown, Sort, ModelSort, Delete;
};

TViewTimings MeasureView(const TStringDynArray& paths)
{
    TDocumentList list;
    list.Model.Add(CreateDocumentEntries(paths));
    PaintNow(list.View);
    TViewTimings t;
    auto painted = [&](const std::function<void()>& f) {
        return [&list, f] {
            f();
            PaintNow(list.View);
        };
    };
    t.SelectAll = Measure([&] { list.Selection.UnselectAll(); PaintNow(list.View); },
                          painted([&] { list.Commands.SelectAll(); }));
    t.ReverseSelection = Measure([&] { list.SelectEveryOther(); }, painted([&] { list.Commands.ReverseSelection(); }));
    t.MoveDown = Measure([&] { list.SelectEveryOther(); }, painted([&] { list.Commands.MoveDown(); }));

    // The model's own sort against the sort with the rows following it, from
    // the same random order and with every other row selected.
    std::vector<TDocumentEntry*> order;
    for (int i = 0; i < list.Model.GetCount(); ++i)
        order.push_back(list.Model.GetItem(i));
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    list.SelectEveryOther();
    const auto onReordered = std::exchange(list.Model.OnReordered, nullptr);
    t.ModelSort = Measure([&] { RestoreOrder(list.Model, order); }, [&] { list.Model.SortByPath(); });
    list.Model.OnReordered = onReordered;
    t.Sort = Measure([&] { RestoreOrder(list.Model, order); PaintNow(list.View); },
                     painted([&] { list.Commands.SortByPath(); }));

    // Once: it takes the entries with it.
    list.SelectEveryOther();
    const auto wall = TClock::now();
    const double cpu = ProcessCpu();
    list.Commands.DeleteSelected(false);
    PaintNow(list.View);
    t.Delete = {Seconds(TClock::now() - wall), ProcessCpu() - cpu};
    return t;
}

void RunView(const std::string& base, const std::string& root, const std::string& locale)
{
    const std::vector<std::string> tree = MakeTree(root);
    // Five links to the tree: a million distinct paths of real files.
    const std::string links = base + "/dorvane-bench-links";
    ::mkdir(links.c_str(), 0755);
    TStringDynArray million;
    million.reserve(tree.size() * 5);
    for (int copy = 1; copy <= 5; ++copy) {
        const std::string link = links + "/" + std::to_string(copy);
        if (!Exists(link) && ::symlink(root.c_str(), link.c_str()) != 0) {
            std::perror(link.c_str());
            std::exit(1);
        }
        for (const std::string& path : tree)
            million.push_back(link + path.substr(root.size()));
    }
    const TStringDynArray hundredThousand(million.begin(), million.begin() + 100000);
    const TViewTimings small = MeasureView(hundredThousand);
    const TViewTimings large = MeasureView(million);

    std::printf("\nmodel + selection + view (800 x 600, offscreen), each up to its next paint; locale %s\n",
                locale.c_str());
    std::printf("times in ms, best of %d runs (Delete once); load average now %s\n\n", Repeats,
                LoadAverage().c_str());
    std::printf("%-34s %9s %9s %9s %9s   %7s   %s\n", "operation", "100k wall", "100k cpu", "1M wall", "1M cpu",
                "1M/100k", "goal");
    auto row = [](const char* what, const TTiming& a, const TTiming& b) {
        std::printf("%-34s %9.1f %9.1f %9.1f %9.1f   %6.1fx   1M < 300 ms, 1M/100k <= 12\n", what, a.Wall * 1000,
                    a.Cpu * 1000, b.Wall * 1000, b.Cpu * 1000, b.Cpu / a.Cpu);
    };
    row("SelectAll", small.SelectAll, large.SelectAll);
    row("ReverseSelection", small.ReverseSelection, large.ReverseSelection);
    row("Delete every other row", small.Delete, large.Delete);
    row("MoveDown every other row", small.MoveDown, large.MoveDown);
    std::printf("\n%-34s %9s %9s %9s %9s   %7s   %s\n", "SortByPath", "100k wall", "100k cpu", "1M wall", "1M cpu",
                "1M cpu", "goal");
    std::printf("%-34s %9.1f %9.1f %9.1f %9.1f\n", "model alone", small.ModelSort.Wall * 1000,
                small.ModelSort.Cpu * 1000, large.ModelSort.Wall * 1000, large.ModelSort.Cpu * 1000);
    std::printf("%-34s %9.1f %9.1f %9.1f %9.1f   %6.3fx   <= 1.20x the model alone\n", "with rows and repaint",
                small.Sort.Wall * 1000, small.Sort.Cpu * 1000, large.Sort.Wall * 1000, large.Sort.Cpu * 1000,
                large.Sort.Cpu / large.ModelSort.Cpu);
}

} // namespace

int main(int argc, char** argv)
{
    std::string part;
    int arg = 1;
    if (arg < argc && (std::string(argv[arg]) == "data" || std::string(argv[arg]) == "view"))
        part = argv[arg++];
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    const std::string root = arg < argc ? argv[arg] : base + "/dorvane-bench-tree";

    // The locale must be in the environment before Qt first reads it.
    std::string locpath;
    std::string locale = PrepareLocale(base, locpath);
    const bool fallback = locale.empty();
    if (fallback)
        locale = "C.UTF-8";
    setenv("LC_ALL", locale.c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    // Type pictures come from a real icon theme, as on a desktop; the
    // offscreen platform knows none by itself.
    if (QFile::exists("/usr/share/icons/Adwaita/index.theme")) {
        QIcon::setThemeSearchPaths({"/usr/share/icons"});
        QIcon::setThemeName("Adwaita");
    }

    if (part.empty() || part == "data")
        RunData(base, root, locale, fallback, locpath);
    if (part.empty() || part == "view")
        RunView(base, root, locale);
    return 0;
}
