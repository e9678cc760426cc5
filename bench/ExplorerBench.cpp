// The window's file list under the offscreen platform, with a table of 100,000 entries:
// listing a folder of 1,000 entries (first time, with the cached files checksummed, and
// again), a selection change with 1,000 entries selected, and a search over the whole
// table with the longest time the window went without serving its events.
#include "AppDir.h"
#include "DetailsPane.h"
#include "ExListView.h"
#include "FileUtil.h"
#include "FmPondra.h"
#include "IniFile.h"
#include "MailFolders.h"
#include "ScriptedPrompt.h"
#include "StoredMail.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
template <class F> double Ms(F fn) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const fs::path home = fs::temp_directory_path() / ("tavrel-bench-ui-" + std::to_string(getpid()));
    fs::create_directories(home);
    qputenv("TAVREL_REGISTRY", (home / "registry.ini").string().c_str());
    qputenv("XDG_DATA_HOME", (home / "data").string().c_str());
    SetAppDir(home.string());
    ReopenIniFile();
    QApplication app(argc, argv);
    {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        w.resize(1000, 700);
        w.show();
        auto owned = std::make_unique<TMailFolder>(&w.Folders());
        owned->Alias = "Bench";
        owned->Opened = true;
        TMailFolder& box = w.Folders().Append(std::move(owned));
        box.EnsureCacheDir();
        const std::string content(4096, 'c');
        const uint32_t sum = ChecksumUpdate(0, content.data(), content.size());
        // The listed folder: 200 subfolders and 800 files, half of them cached.
        for (int i = 0; i < 200; ++i)
            box.Files.AddSubject(FolderSubject("\\big\\sub" + std::to_string(i) + "\\", "45000.5"));
        for (int i = 0; i < 800; ++i) {
            const std::string path = "\\big\\file" + std::to_string(i) + ".dat";
            box.Files.AddSubject(PartSubject(path, 1, 1, 4096, sum, 32, "45000", "45000"));
            if (i % 2 == 0) {
                const std::string cache = box.CachePathOf(path);
                fs::create_directories(fs::path(cache).parent_path());
                std::ofstream(cache, std::ios::binary) << content;
            }
        }
        for (int i = 0; box.Files.Count() < 100000; ++i)
            box.Files.AddSubject(PartSubject("\\other\\d" + std::to_string(i % 1000) + "\\f" +
                                                 std::to_string(i) + ".dat",
                                             1, 1, 10, 1, 32, "45000", "45000"));
        w.RefreshMailboxList();
        w.MailsView()->setCurrentRow(0);
        w.OpenMailbox();
        w.SetViewStyle(3);
        app.processEvents();

        const double first = Ms([&] { w.ListCurrent("\\big\\"); app.processEvents(); });
        double again = 0;
        for (int i = 0; i < 5; ++i) again += Ms([&] { w.ListCurrent(); app.processEvents(); }) / 5;
        const int rows = w.FilesView()->RowCount();
        const double select = Ms([&] { w.FilesView()->SelectAll(); app.processEvents(); });
        const QStringList details = w.DetailsPane()->Lines();
        const double relist = Ms([&] { w.ListCurrent(); app.processEvents(); });
        const int kept = w.FilesView()->SelectedCount();

        // The search, with a timer that notes how long the window went without events.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, worst = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        tick.start();
        last = clock.elapsed();
        const double search = Ms([&] { w.RunSearch("file"); });
        tick.stop();
        const int found = w.SearchView()->RowCount();

        std::printf("window file list (offscreen): %d entries in the table\n", box.Files.Count());
        std::printf("  list %d rows, first time  %.1f ms (400 cached files checksummed)\n", rows, first);
        std::printf("  list again                 %.1f ms (mean of 5)\n", again);
        std::printf("  select all %d rows          %.1f ms (details: %s)\n", rows, select,
                    qPrintable(details.value(1)));
        std::printf("  list again, %d kept selected %.1f ms\n", kept, relist);
        std::printf("  search over the table      %.0f ms, %d found, longest gap between events %lld ms\n",
                    search, found, static_cast<long long>(worst));
    }
    fs::remove_all(home);
    return 0;
}
