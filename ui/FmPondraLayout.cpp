// The main window's layout in Tavrel.ini: window state and bounds, the left bar, the
// address bar, the columns, sort settings and view styles of the file list and the search
// results.
#include "FmPondra.h"

#include "IniFile.h"

#include <QAction>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTreeView>

#include "ExListView.h"

#include <algorithm>

namespace {
// The restored bounds of a window that starts maximised.
const QRect kDesignBounds(290, 34, 852, 617);
// Values beyond any screen are taken as the largest sensible ones.
constexpr int kMaxExtent = 16384;

void LoadColumns(TIniFile& ini, const char* section, TExListView* view) {
    for (int i = 0; i < view->Model()->columnCount(); ++i)
        view->Header()->resizeSection(
            i, std::clamp(ini.ReadInteger(section, std::to_string(i), 100), 0, kMaxExtent));
}

void SaveColumns(TIniFile& ini, const char* section, TExListView* view) {
    for (int i = 0; i < view->Model()->columnCount(); ++i)
        ini.WriteInteger(section, std::to_string(i), view->Header()->sectionSize(i));
    ini.WriteInteger(section, "Style", view->ViewStyle());
    ini.WriteBool(section, "SortASC", view->SortASC());
    ini.WriteInteger(section, "SortCol", view->SortIndex());
}
} // namespace

int TFmPondra::ViewStyle() const { return lvFiles_->ViewStyle(); }

void TFmPondra::SetViewStyle(int style) {
    lvFiles_->SetViewStyle(style);
    const char* names[] = {"actIcons", "actTiles", "actList", "actDetails"};
    Action(names[lvFiles_->ViewStyle()])->setChecked(true);
    // (The Details header keeps its sort mark while the other styles are shown.)
}

void TFmPondra::LoadLayout() {
    TIniFile& ini = IniFile();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect primary = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QRect desktop = screen ? screen->virtualGeometry() : primary;
    int state = ini.ReadInteger("General", "State", 2);
    if (state < 0 || state > 2) state = 0;
    setProperty("layoutState", state);
    if (state == 2) {
        setGeometry(kDesignBounds);
    } else {
        const int w = ini.ReadInteger("General", "Width", primary.width());
        const int h = ini.ReadInteger("General", "Height", desktop.height());
        setGeometry(std::clamp(ini.ReadInteger("General", "Left", 0), -kMaxExtent, kMaxExtent),
                    std::clamp(ini.ReadInteger("General", "Top", 0), -kMaxExtent, kMaxExtent),
                    std::clamp(w, 200, kMaxExtent), std::clamp(h, 150, kMaxExtent));
        // Bounds of a screen that is gone (or made up) would leave the window out of reach.
        if (!desktop.intersects(geometry())) move(primary.topLeft());
    }
    const int leftBar = std::clamp(ini.ReadInteger("General", "LeftBar", 200), 0, kMaxExtent);
    splLeft_->setSizes({leftBar, std::max(1, width() - leftBar)});
    const bool addr = ini.ReadBool("General", "AddrBar", true);
    Action("actViewAddr")->setChecked(addr);
    pnlAddr_->setVisible(addr);
    LoadColumns(ini, "lvFiles", lvFiles_);
    lvFiles_->SetSort(ini.ReadInteger("lvFiles", "SortCol", 0), ini.ReadBool("lvFiles", "SortASC", true));
    switch (ini.ReadInteger("lvFiles", "Style", 0)) {
    case 0: Action("actIcons")->trigger(); break;
    case 1: Action("actTiles")->trigger(); break;
    case 2: Action("actList")->trigger(); break;
    default: Action("actDetails")->trigger(); break;
    }
    LoadColumns(ini, "lvSearch", lvSearch_);
    lvSearch_->SetSort(ini.ReadInteger("lvSearch", "SortCol", 0), ini.ReadBool("lvSearch", "SortASC", true));
}

void TFmPondra::ShowWindowFromLayout() {
    switch (property("layoutState").toInt()) {
    case 1: showMinimized(); break;
    case 2: showMaximized(); break;
    default: show(); break;
    }
}

void TFmPondra::SaveLayout() {
    TIniFile& ini = IniFile();
    const QRect g = geometry();
    ini.WriteInteger("General", "Left", g.x());
    ini.WriteInteger("General", "Top", g.y());
    ini.WriteInteger("General", "Width", g.width());
    ini.WriteInteger("General", "Height", g.height());
    ini.WriteInteger("General", "State", isMinimized() ? 1 : isMaximized() ? 2 : 0);
    const QList<int> sizes = splLeft_->sizes();
    ini.WriteInteger("General", "LeftBar", sizes.isEmpty() ? 200 : sizes.first());
    ini.WriteBool("General", "AddrBar", Action("actViewAddr")->isChecked());
    SaveColumns(ini, "lvFiles", lvFiles_);
    SaveColumns(ini, "lvSearch", lvSearch_);
    ini.UpdateFile(); // a folder that cannot be written loses the layout silently
}
